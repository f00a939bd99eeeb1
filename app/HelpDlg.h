#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class HelpDlg;
}

namespace brasko {

// The program's help: a fixed placeholder text and an OK button. F1 inside it asks for nothing more.
class CHelpDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CHelpDlg(QWidget* pParent = nullptr);
    ~CHelpDlg() override;
    Q_DISABLE_COPY_MOVE(CHelpDlg)

private:
    std::unique_ptr<Ui::HelpDlg> m_pUi;
};

} // namespace brasko
