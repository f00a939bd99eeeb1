#include "HelpDlg.h"

#include "DialogLayout.h"
#include "ui_HelpDlg.h"

namespace brasko {

CHelpDlg::CHelpDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_pUi(std::make_unique<Ui::HelpDlg>())
{
    m_pUi->setupUi(this);
    ScaleToDialogFont(*this);
    connect(m_pUi->m_btnOK, &QPushButton::clicked, this, &CHelpDlg::accept);
}

CHelpDlg::~CHelpDlg() = default;

} // namespace brasko
