#pragma once

#include "MessageSink.h"

#include <QPointer>
#include <QWidget>

namespace brasko {

// Shows each message in a modal message box captioned with the application name, with an OK button and
// the stop sign or the exclamation mark. Runs on the UI thread.
class CMessageBoxSink : public IMessageSink
{
public:
    // The window the boxes stand over when no other modal window is open.
    void SetParentWidget(QWidget* pParent) { m_pParent = pParent; }

    void ShowMessage(const std::string& strText, EMessageIcon icon) override;
    bool AskYesNo(const std::string& strText) override;

private:
    QWidget* ParentForBox() const;

    QPointer<QWidget> m_pParent;
};

} // namespace brasko
