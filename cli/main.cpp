#include "CliMessages.h"
#include "CommandLine.h"
#include "ProcessHardening.h"
#include "Program.h"
#include "TerminalText.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

// Gives a closed stdout or stderr /dev/null, so that no file opened later can take its number and receive
// the trace lines or messages.
void OpenMissingOutputs()
{
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (nullFd >= 0 && nullFd != fd) {
            ::dup2(nullFd, fd);
            ::close(nullFd);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    brasko::HardenProcess();
    // A reader of standard output that goes away must not end the run halfway; the trace lines are lost then.
    std::signal(SIGPIPE, SIG_IGN);
    OpenMissingOutputs();
    try {
        return brasko::cli::RunProgram(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << brasko::cli::messages::kProgramName << ": "
                  << brasko::cli::EscapeForTerminal(error.what()) << '\n';
        return brasko::cli::kExitFailure;
    }
}
