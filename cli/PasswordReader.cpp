#include "PasswordReader.h"

#include "CliMessages.h"
#include "SystemError.h"
#include "core/FileHandle.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace brasko::cli {

CSecretText::CSecretText()
{
    m_str.reserve(kMaxLineBytes);
}

CSecretText::~CSecretText()
{
    OPENSSL_cleanse(m_str.data(), m_str.capacity());
}

bool CSecretText::Append(const char* pData, std::size_t nSize)
{
    const std::size_t nFits = std::min(nSize, kMaxLineBytes - m_str.size());
    m_str.append(pData, nFits);
    return nFits == nSize;
}

void CSecretText::Truncate(std::size_t nSize)
{
    if (nSize >= m_str.size())
        return;
    OPENSSL_cleanse(m_str.data() + nSize, m_str.size() - nSize);
    m_str.resize(nSize);
}

int ReadFirstLine(int fd, CSecretText& line, bool& bLineEnd)
{
    bLineEnd = false;
    std::array<char, 256> buffer{};
    int nError = 0;
    for (;;) {
        const ssize_t nRead = ::read(fd, buffer.data(), buffer.size());
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            nError = errno;
            break;
        }
        if (nRead == 0)
            break;
        const auto nBytes = static_cast<std::size_t>(nRead);
        const char* pEnd = std::find(buffer.data(), buffer.data() + nBytes, '\n');
        bLineEnd = pEnd != buffer.data() + nBytes;
        if (!line.Append(buffer.data(), static_cast<std::size_t>(pEnd - buffer.data())) || bLineEnd)
            break;
    }
    OPENSSL_cleanse(buffer.data(), buffer.size());
    if (bLineEnd && line.Get().ends_with('\r'))
        line.Truncate(line.Get().size() - 1);
    return nError;
}

namespace {

// The terminal the prompt runs on and its modes, for the signal handler.
int g_nTerminal = -1;
struct termios g_savedMode
{
};
struct termios g_quietMode
{
};

constexpr std::array kRestoringSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void RestoreTerminalOnSignal(int nSignal);

struct sigaction HandlerAction()
{
    struct sigaction action
    {
    };
    action.sa_handler = RestoreTerminalOnSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return action;
}

// Gives the terminal its echo back, then lets the signal take its usual course: the process ends, or it
// stops and, once continued, returns here and hides the input again.
void RestoreTerminalOnSignal(int nSignal)
{
    const int nSavedErrno = errno;
    ::tcsetattr(g_nTerminal, TCSANOW, &g_savedMode);
    struct sigaction defaultAction
    {
    };
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(nSignal, &defaultAction, nullptr);
    ::raise(nSignal);
    sigset_t signalSet;
    ::sigemptyset(&signalSet);
    ::sigaddset(&signalSet, nSignal);
    ::sigprocmask(SIG_UNBLOCK, &signalSet, nullptr);

    const struct sigaction handler = HandlerAction();
    ::sigaction(nSignal, &handler, nullptr);
    ::tcsetattr(g_nTerminal, TCSANOW, &g_quietMode);
    errno = nSavedErrno;
}

sigset_t RestoringSignalSet()
{
    sigset_t signalSet;
    ::sigemptyset(&signalSet);
    for (const int nSignal : kRestoringSignals)
        ::sigaddset(&signalSet, nSignal);
    return signalSet;
}

bool PromptOnTerminal(CSecretText& password, std::string& strError)
{
    const CFileHandle terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    struct termios savedMode
    {
    };
    if (!terminal || ::tcgetattr(terminal.Get(), &savedMode) != 0) {
        strError = messages::kNoTerminal;
        return false;
    }
    g_nTerminal = terminal.Get();
    g_savedMode = savedMode;
    g_quietMode = savedMode;
    g_quietMode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);

    std::array<struct sigaction, kRestoringSignals.size()> previousActions{};
    const struct sigaction handler = HandlerAction();
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
        ::sigaction(kRestoringSignals[i], &handler, &previousActions[i]);

    int nError = 0;
    bool bLineEnd = false;
    // TCSAFLUSH drops what was typed before the echo went off: it has been seen on the screen.
    if (::tcsetattr(terminal.Get(), TCSAFLUSH, &g_quietMode) != 0) {
        nError = errno;
    } else {
        WriteFully(terminal.Get(), messages::kPrompt, std::strlen(messages::kPrompt));
        nError = ReadFirstLine(terminal.Get(), password, bLineEnd);
    }

    // With the signals held back, so that none can hide the input again after this.
    const sigset_t signalSet = RestoringSignalSet();
    sigset_t previousMask;
    ::sigprocmask(SIG_BLOCK, &signalSet, &previousMask);
    ::tcsetattr(terminal.Get(), TCSAFLUSH, &savedMode);
    WriteFully(terminal.Get(), "\n", 1);
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
        ::sigaction(kRestoringSignals[i], &previousActions[i], nullptr);
    g_nTerminal = -1;
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);

    if (nError != 0) {
        strError = messages::PasswordReadFailed(SystemErrorText(nError));
        return false;
    }
    if (!bLineEnd) {
        strError = messages::kPromptAborted;
        return false;
    }
    return true;
}

} // namespace

bool ReadPassword(const SCommandLine& commandLine, CSecretText& password, std::string& strError)
{
    bool bLineEnd = false;
    switch (commandLine.passwordSource) {
    case EPasswordSource::Stdin:
        if (const int nError = ReadFirstLine(STDIN_FILENO, password, bLineEnd); nError != 0) {
            strError = messages::PasswordReadFailed(SystemErrorText(nError));
            return false;
        }
        return true;
    case EPasswordSource::File: {
        const CFileHandle file(::open(commandLine.strPasswordFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        const int nError = file ? ReadFirstLine(file.Get(), password, bLineEnd) : errno;
        if (nError != 0) {
            strError = messages::PasswordFileFailed(commandLine.strPasswordFile, SystemErrorText(nError));
            return false;
        }
        return true;
    }
    case EPasswordSource::Terminal:
        break;
    }
    return PromptOnTerminal(password, strError);
}

} // namespace brasko::cli
