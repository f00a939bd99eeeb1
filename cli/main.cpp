#include "CliMessages.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "Interrupt.h"
#include "PasswordReader.h"
#include "TerminalText.h"
#include "core/DecryptionBatch.h"
#include "core/ProcessHardening.h"
#include "core/TripleDes.h"
#include "core/Utf8.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <streambuf>
#include <unistd.h>

namespace {

using namespace brasko;
using namespace brasko::cli;

// Swallows what is written to it: the trace lines under --quiet.
class CNullBuffer : public std::streambuf
{
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char* /*pData*/, std::streamsize nSize) override { return nSize; }
};

// Points std::cout at another buffer while it lives.
class CCoutRedirect
{
public:
    explicit CCoutRedirect(std::streambuf* pBuffer) : m_pPrevious(std::cout.rdbuf(pBuffer)) {}
    ~CCoutRedirect() { std::cout.rdbuf(m_pPrevious); }
    CCoutRedirect(const CCoutRedirect&) = delete;
    CCoutRedirect& operator=(const CCoutRedirect&) = delete;
    CCoutRedirect(CCoutRedirect&&) = delete;
    CCoutRedirect& operator=(CCoutRedirect&&) = delete;

private:
    std::streambuf* m_pPrevious;
};

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

int Run(int argc, const char* const* argv)
{
    const SParseResult parsed = ParseCommandLine(argc, argv);
    if (parsed.exitStatus)
        return *parsed.exitStatus;
    const SCommandLine& commandLine = parsed.commandLine;

    // Without a template or without files the batch needs no password, so the terminal is not asked then;
    // a source named on the command line is read all the same, and its errors reported.
    const bool bTemplateEmpty =
        commandLine.strPrefix.empty() && commandLine.strSuffix.empty() && commandLine.strExtension.empty();
    const bool bNeedsPassword = !bTemplateEmpty && !commandLine.files.empty();
    CSecretText password;
    if (commandLine.passwordSource != EPasswordSource::Terminal || bNeedsPassword) {
        std::string strError;
        if (!ReadPassword(commandLine, password, strError)) {
            std::cerr << messages::kProgramName << ": " << strError << '\n'; // its path is escaped already
            return kExitUsage;
        }
    }

    const bool bShowProgress = !commandLine.bQuiet && ::isatty(STDERR_FILENO) == 1;
    const bool bTraceOnTerminal = !commandLine.bQuiet && ::isatty(STDOUT_FILENO) == 1;
    CConsoleReporter reporter(bShowProgress, bTraceOnTerminal);
    if (utf8::CountCharacters(password.Get()) > kMaxPasswordChars) {
        reporter.WriteLine(messages::kPasswordTruncated);
        password.Truncate(utf8::FirstCharacters(password.Get(), kMaxPasswordChars).size());
    }

    CNullBuffer nullBuffer;
    const CCoutRedirect quietTrace(commandLine.bQuiet ? &nullBuffer : std::cout.rdbuf());
    CFileDecryptor decryptor;
    CatchInterrupts();
    const SBatchResult result = RunDecryptionBatch(
        decryptor, password.Get(), commandLine.strPrefix, commandLine.strSuffix, commandLine.strExtension,
        commandLine.files, reporter, &reporter, &reporter, commandLine.nJobs);
    if (result.bCancelled)
        return 128 + InterruptSignal();
    if (result.bTemplateEmpty)
        return kExitUsage;
    return result.nFailures > 0 ? kExitFailure : kExitSuccess;
}

} // namespace

int main(int argc, char** argv)
{
    HardenProcess();
    // A reader of standard output that goes away must not end the run halfway; the trace lines are lost then.
    std::signal(SIGPIPE, SIG_IGN);
    OpenMissingOutputs();
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << messages::kProgramName << ": " << EscapeForTerminal(error.what()) << '\n';
        return kExitFailure;
    }
}
