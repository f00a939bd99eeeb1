#include "MessageBoxSink.h"

#include "Messages.h"
#include "TextConversion.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace brasko {

QWidget* CMessageBoxSink::ParentForBox() const
{
    // Over the progress display when it is up, so the box is not hidden behind it.
    QWidget* pParent = QApplication::activeModalWidget();
    return pParent != nullptr ? pParent : m_pParent.data();
}

void CMessageBoxSink::ShowMessage(const std::string& strText, EMessageIcon icon)
{
    QWidget* pParent = ParentForBox();
    QMessageBox box(icon == EMessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    text::FromCore(messages::kApplicationName), text::FromCore(strText), QMessageBox::Ok,
                    pParent);
    // Paths are shown as they are spelled: a name holding markup must not change the box.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool CMessageBoxSink::AskYesNo(const std::string& strText)
{
    QMessageBox box(QMessageBox::Warning, text::FromCore(messages::kApplicationName), text::FromCore(strText),
                    QMessageBox::Yes | QMessageBox::No, ParentForBox());
    box.setTextFormat(Qt::PlainText);
    // German whatever Qt's own translations say; Enter and Escape both answer Nein.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nein"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace brasko
