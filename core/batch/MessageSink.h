#pragma once

#include <string>

namespace brasko {

// The icon a message asks for: the stop sign, or the framework's default (shown as the exclamation).
enum class EMessageIcon
{
    Default,
    Stop,
};

// Where the core's user-facing messages go. ShowMessage returns once the user has dismissed the message.
class IMessageSink
{
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(const std::string& strText, EMessageIcon icon) = 0;
    // Asks a question with the warning icon and the buttons Ja and Nein, Nein the default; true for Ja.
    // Returns once the user has answered. A sink that cannot ask gives the default answer.
    virtual bool AskYesNo(const std::string& strText)
    {
        (void)strText;
        return false;
    }
};

} // namespace brasko
