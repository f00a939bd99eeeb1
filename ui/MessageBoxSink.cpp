#include "MessageBoxSink.h"

#include "TextConversion.h"
#include "core/Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace brasko {

void CMessageBoxSink::ShowMessage(const std::string& strText, EMessageIcon icon)
{
    // Over the progress display when it is up, so the box is not hidden behind it.
    QWidget* pParent = QApplication::activeModalWidget();
    if (pParent == nullptr)
        pParent = m_pParent;
    QMessageBox box(icon == EMessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    text::FromCore(messages::kApplicationName), text::FromCore(strText), QMessageBox::Ok,
                    pParent);
    box.exec();
}

} // namespace brasko
