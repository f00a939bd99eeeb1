#include "CliMessages.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "Interrupt.h"
#include "PasswordReader.h"
#include "core/ContentCheck.h"
#include "core/DecryptionBatch.h"
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

// --check: the start of every file decrypted in memory and judged, one line per file on stdout; nothing is
// written. A file that cannot be read gets the messages a decryption would give it.
int RunCheck(const std::vector<std::string>& files, const std::string& strPassword,
             CConsoleReporter& reporter)
{
    CatchInterrupts();
    bool bUnreadable = false;
    bool bLooksRandom = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        reporter.OnFileStarted(i, files.size(), files[i]);
        if (reporter.IsCancelRequested())
            return 128 + InterruptSignal();
        const SDecryptOutcome outcome = CheckFileContent(files[i], strPassword, reporter);
        if (!outcome.Succeeded()) {
            reporter.OnFileFinished(i, files[i], outcome);
            bUnreadable = true;
            continue;
        }
        bLooksRandom = bLooksRandom || outcome.plausibility.verdict == EPlausibility::LooksRandom;
        std::cout << messages::CheckLine(files[i], outcome.plausibility.strDescription) << std::endl;
    }
    if (bUnreadable)
        return kExitFailure;
    return bLooksRandom ? kExitLooksRandom : kExitSuccess;
}

int Run(int argc, const char* const* argv)
{
    const SParseResult parsed = ParseCommandLine(argc, argv);
    if (parsed.exitStatus)
        return *parsed.exitStatus;
    const SCommandLine& commandLine = parsed.commandLine;

    // The cipher variant is settled before anything else, so that a refused BRASKO_DES_KERNEL touches
    // nothing and the fallback note comes first.
    const SDesKernelChoice& kernel = DesKernelChoice();
    if (kernel.bRefused) {
        std::string strAvailable;
        for (const EDesKernel available : kAllDesKernels) {
            if (DesKernelSupported(available))
                strAvailable += (strAvailable.empty() ? "" : ", ") + std::string(DesKernelName(available));
        }
        std::cerr << messages::kProgramName << ": "
                  << messages::DesKernelRefused(kernel.strRequested, strAvailable) << '\n';
        return kExitUsage;
    }
    if (kernel.bSelfTestFailed)
        std::cerr << messages::kProgramName << ": "
                  << messages::DesKernelSelfTestFailed(DesKernelName(kernel.failedKernel)) << '\n';

    // Without a template or without files the batch needs no password, so the terminal is not asked then;
    // a source named on the command line is read all the same, and its errors reported.
    const bool bTemplateEmpty =
        commandLine.strPrefix.empty() && commandLine.strSuffix.empty() && commandLine.strExtension.empty();
    const bool bNeedsPassword = (commandLine.bCheckOnly || !bTemplateEmpty) && !commandLine.files.empty();
    CSecretText password;
    if (commandLine.passwordSource != EPasswordSource::Terminal || bNeedsPassword) {
        std::string strError;
        if (!ReadPassword(commandLine, password, strError)) {
            std::cerr << messages::kProgramName << ": " << strError << '\n';
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

    if (commandLine.bCheckOnly)
        return RunCheck(commandLine.files, password.Get(), reporter);

    CNullBuffer nullBuffer;
    const CCoutRedirect quietTrace(commandLine.bQuiet ? &nullBuffer : std::cout.rdbuf());
    CFileDecryptor decryptor;
    decryptor.m_bCheckPlaintext = !commandLine.bNoCheck;
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
    // A reader of standard output that goes away must not end the run halfway; the trace lines are lost then.
    std::signal(SIGPIPE, SIG_IGN);
    OpenMissingOutputs();
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << messages::kProgramName << ": " << error.what() << '\n';
        return kExitFailure;
    }
}
