#pragma once

#include "MessageSink.h"
#include "ui/FileChooser.h"

#include <QApplication>
#include <QWidget>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace brasko::test {

// Hands out a prepared answer instead of asking the user.
class CFakeFileChooser : public IFileChooser
{
public:
    std::optional<QStringList> ChooseFiles(QWidget* pParent) override
    {
        ++m_nCalls;
        m_pParent = pParent;
        return m_answer;
    }

    std::optional<QStringList> m_answer;
    int m_nCalls = 0;
    QWidget* m_pParent = nullptr;
};

// Records every message and question; m_onMessage runs while the message is "on screen", on the UI thread.
class CScriptedMessageSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& strText, EMessageIcon icon) override
    {
        m_messages.emplace_back(strText, icon);
        if (m_onMessage)
            m_onMessage(strText);
    }

    // Records the question and gives the scripted answer (Ja unless told otherwise).
    bool AskYesNo(const std::string& strText) override
    {
        m_questions.push_back(strText);
        return m_bAnswerYes;
    }

    std::vector<std::pair<std::string, EMessageIcon>> m_messages;
    std::function<void(const std::string&)> m_onMessage;
    std::vector<std::string> m_questions;
    bool m_bAnswerYes = true;
};

using Messages = std::vector<std::pair<std::string, EMessageIcon>>;

// The child of the given class and object name; throws (and so fails the test) when there is none.
template <class T> T& Child(const QObject& parent, const char* pszName)
{
    T* pChild = parent.findChild<T*>(QString::fromLatin1(pszName));
    if (pChild == nullptr)
        throw std::runtime_error(std::string("no child ") + pszName);
    return *pChild;
}

// Runs action on the topmost modal widget once it is a T, from the event loop of whatever modal run is
// under way. Gives up after nTimeoutMs: then it fails the test and closes the modal widgets, so that a test
// can never hang in a modal run.
void WhenModal(const QMetaObject* pType, std::function<void(QWidget&)> action, int nTimeoutMs = 10000);

template <class T> void WhenModal(std::function<void(T&)> action, int nTimeoutMs = 10000)
{
    WhenModal(
        &T::staticMetaObject,
        [action = std::move(action)](QWidget& widget) { action(static_cast<T&>(widget)); }, nTimeoutMs);
}

// The main dialog's title, with the version of this build.
QString MainDialogTitle();

} // namespace brasko::test
