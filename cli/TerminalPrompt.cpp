#include "TerminalPrompt.h"

#include "CliMessages.h"
#include "FailureText.h"
#include "FileHandle.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace brasko::cli {

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

using SignalActions = std::array<struct sigaction, kRestoringSignals.size()>;

// Turns the echo off; a signal meanwhile gives it back first (RestoreTerminalOnSignal). 0 or an errno value.
int HideInput(int nTerminal, const struct termios& savedMode, SignalActions& previousActions)
{
    g_nTerminal = nTerminal;
    g_savedMode = savedMode;
    g_quietMode = savedMode;
    g_quietMode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    const struct sigaction handler = HandlerAction();
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
        ::sigaction(kRestoringSignals[i], &handler, &previousActions[i]);
    // TCSAFLUSH drops what was typed before the echo went off: it has been seen on the screen.
    return ::tcsetattr(nTerminal, TCSAFLUSH, &g_quietMode) != 0 ? errno : 0;
}

void ShowInput(int nTerminal, const struct termios& savedMode, const SignalActions& previousActions)
{
    // With the signals held back, so that none can hide the input again after this.
    const sigset_t signalSet = RestoringSignalSet();
    sigset_t previousMask;
    ::sigprocmask(SIG_BLOCK, &signalSet, &previousMask);
    ::tcsetattr(nTerminal, TCSAFLUSH, &savedMode);
    WriteFully(nTerminal, "\n", 1);
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
        ::sigaction(kRestoringSignals[i], &previousActions[i], nullptr);
    g_nTerminal = -1;
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}

} // namespace

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
    SignalActions previousActions{};
    int nError = HideInput(terminal.Get(), savedMode, previousActions);
    bool bLineEnd = false;
    if (nError == 0) {
        WriteFully(terminal.Get(), messages::kPrompt, std::strlen(messages::kPrompt));
        nError = password.ReadFirstLine(terminal.Get(), bLineEnd);
    }
    ShowInput(terminal.Get(), savedMode, previousActions);

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

} // namespace brasko::cli
