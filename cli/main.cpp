#include "ArchiveInputs.h"
#include "CliMessages.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "Interrupt.h"
#include "PasswordReader.h"
#include "SystemError.h"
#include "TerminalText.h"
#include "ContentCheck.h"
#include "DecryptionBatch.h"
#include "ProcessHardening.h"
#include "SecureBuffer.h"
#include "CipherReport.h"
#include "Utf8.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace brasko;
using namespace brasko::cli;

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
int RunCheck(const std::vector<std::string>& files, std::string_view password, CConsoleReporter& reporter)
{
    CatchInterrupts();
    bool bUnreadable = false;
    bool bLooksRandom = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        reporter.OnFileStarted(i, files.size(), files[i]);
        if (reporter.IsCancelRequested())
            return 128 + InterruptSignal();
        const SDecryptOutcome outcome = CheckFileContent(files[i], password, reporter);
        if (!outcome.Succeeded()) {
            reporter.OnFileFinished(i, files[i], outcome);
            bUnreadable = true;
            continue;
        }
        bLooksRandom = bLooksRandom || outcome.plausibility.verdict == EPlausibility::LooksRandom;
        std::cout << messages::CheckLine(QuoteForTerminal(files[i]), outcome.plausibility.strDescription)
                  << std::endl;
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
    const SCipherReport cipher = ReportCipher();
    if (cipher.bRefused) {
        std::string strAvailable;
        for (const std::string& strName : cipher.available)
            strAvailable += (strAvailable.empty() ? "" : ", ") + strName;
        std::cerr << messages::kProgramName << ": "
                  << messages::DesKernelRefused(cipher.strRequested, strAvailable) << '\n';
        return kExitUsage;
    }
    if (cipher.bSelfTestFailed)
        std::cerr << messages::kProgramName << ": " << messages::DesKernelSelfTestFailed(cipher.strFailed)
                  << '\n';

    if (!commandLine.strOutputDir.empty()) {
        struct stat info
        {
        };
        if (::stat(commandLine.strOutputDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            std::cerr << messages::kProgramName << ": "
                      << EscapeForTerminal(messages::OutputDirMissing(commandLine.strOutputDir)) << '\n';
            return kExitUsage;
        }
    }
    SInputList inputs;
    if (std::string strError; !CollectInputs(commandLine, inputs, strError)) {
        std::cerr << messages::kProgramName << ": " << EscapeForTerminal(strError) << '\n';
        return kExitUsage;
    }
    for (const auto& [strFolder, nError] : inputs.unreadableFolders)
        std::cerr << EscapeForTerminal(messages::FolderNotRead(strFolder, SystemErrorText(nError))) << '\n';
    const bool bWalkFailed = !inputs.unreadableFolders.empty();

    SBatchRequest request;
    request.strPrefix = commandLine.strPrefix;
    request.strSuffix = commandLine.strSuffix;
    request.strExtension = commandLine.strExtension;
    request.paths = std::move(inputs.paths);
    request.strOutputDir = commandLine.strOutputDir;
    request.subFolders = std::move(inputs.subFolders);
    request.nJobs = commandLine.nJobs;
    request.bSkipExisting = commandLine.bSkipExisting;

    // Without a template or without files the batch needs no password, so the terminal is not asked then;
    // a source named on the command line is read all the same, and its errors reported.
    const bool bTemplateEmpty = !request.HasTemplate();
    if (commandLine.bDryRun) {
        const int nStatus = PrintPlan(request);
        return bWalkFailed && nStatus == kExitSuccess ? kExitFailure : nStatus;
    }
    const bool bNeedsPassword = (commandLine.bCheckOnly || !bTemplateEmpty) && !request.paths.empty();
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
    CConsoleReporter reporter(bShowProgress, !commandLine.bQuiet, bTraceOnTerminal);
    reporter.SetVerbose(commandLine.bVerbose);
    if (utf8::CountCharacters(password.Get()) > kMaxPasswordChars) {
        reporter.WriteLine(messages::kPasswordTruncated);
        password.Truncate(utf8::FirstCharacters(password.Get(), kMaxPasswordChars).size());
    }

    if (commandLine.bCheckOnly) {
        const int nStatus = RunCheck(request.paths, password.Get(), reporter);
        return bWalkFailed && (nStatus == kExitSuccess || nStatus == kExitLooksRandom) ? kExitFailure
                                                                                       : nStatus;
    }

    request.strPassword = password.Get();
    request.bCheckPlaintext = !commandLine.bNoCheck;
    CatchInterrupts();
    const SBatchResult result = RunDecryptionBatch(request, reporter, &reporter, &reporter);
    SecureWipe(request.strPassword.data(), request.strPassword.size());
    if (result.bCancelled)
        return 128 + InterruptSignal();
    if (result.bTemplateEmpty)
        return kExitUsage;
    if (commandLine.bSkipExisting)
        reporter.WriteLine(messages::Skipped(result.nSkipped));
    return result.nFailures > 0 || bWalkFailed ? kExitFailure : kExitSuccess;
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
