#include "Program.h"

#include "ArchiveInputs.h"
#include "CliMessages.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "Interrupt.h"
#include "PasswordReader.h"
#include "SystemError.h"
#include "TerminalText.h"
#include "core/ContentCheck.h"
#include "core/DecryptionBatch.h"
#include "core/TripleDes.h"
#include "core/Utf8.h"

#include <openssl/crypto.h>

#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace brasko::cli {

namespace {

void ReportError(const std::string& strText)
{
    std::cerr << messages::kProgramName << ": " << strText << '\n';
}

// The cipher variant is settled before anything else, so that a refused BRASKO_DES_KERNEL touches nothing
// and the fallback note comes first. False when the variant asked for is refused.
bool SettleDesKernel()
{
    const SDesKernelChoice& kernel = DesKernelChoice();
    if (kernel.bRefused) {
        std::string strAvailable;
        for (const EDesKernel available : kAllDesKernels) {
            if (DesKernelSupported(available))
                strAvailable += (strAvailable.empty() ? "" : ", ") + std::string(DesKernelName(available));
        }
        ReportError(messages::DesKernelRefused(kernel.strRequested, strAvailable));
        return false;
    }
    if (kernel.bSelfTestFailed)
        ReportError(messages::DesKernelSelfTestFailed(DesKernelName(kernel.failedKernel)));
    return true;
}

// The batch the command line asks for: the template, the inputs with the folders walked, the settings.
// False when it cannot be built (the output folder is missing, the file list cannot be read); bWalkFailed
// tells that a folder could not be read, which the exit status reports after the run.
bool BuildRequest(const SCommandLine& commandLine, SBatchRequest& request, bool& bWalkFailed)
{
    if (!commandLine.strOutputDir.empty()) {
        struct stat info
        {
        };
        if (::stat(commandLine.strOutputDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            ReportError(EscapeForTerminal(messages::OutputDirMissing(commandLine.strOutputDir)));
            return false;
        }
    }
    SInputList inputs;
    if (std::string strError; !CollectInputs(commandLine, inputs, strError)) {
        ReportError(EscapeForTerminal(strError));
        return false;
    }
    for (const auto& [strFolder, nError] : inputs.unreadableFolders)
        std::cerr << EscapeForTerminal(messages::FolderNotRead(strFolder, SystemErrorText(nError))) << '\n';
    bWalkFailed = !inputs.unreadableFolders.empty();

    request.strPrefix = commandLine.strPrefix;
    request.strSuffix = commandLine.strSuffix;
    request.strExtension = commandLine.strExtension;
    request.paths = std::move(inputs.paths);
    request.strOutputDir = commandLine.strOutputDir;
    request.subFolders = std::move(inputs.subFolders);
    request.nJobs = commandLine.nJobs;
    request.bSkipExisting = commandLine.bSkipExisting;
    return true;
}

// Without a template or without files the batch needs no password, so the terminal is not asked then; a
// source named on the command line is read all the same, and its errors reported. False when there is none.
bool GetPassword(const SCommandLine& commandLine, const SBatchRequest& request, CSecretText& password)
{
    const bool bTemplateEmpty =
        commandLine.strPrefix.empty() && commandLine.strSuffix.empty() && commandLine.strExtension.empty();
    const bool bNeedsPassword = (commandLine.bCheckOnly || !bTemplateEmpty) && !request.paths.empty();
    if (commandLine.passwordSource == EPasswordSource::Terminal && !bNeedsPassword)
        return true;
    std::string strError;
    if (!ReadPassword(commandLine, password, strError)) {
        ReportError(strError); // its path is escaped already
        return false;
    }
    return true;
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
        std::cout << messages::CheckLine(QuoteForTerminal(files[i]), outcome.plausibility.strDescription)
                  << std::endl;
    }
    if (bUnreadable)
        return kExitFailure;
    return bLooksRandom ? kExitLooksRandom : kExitSuccess;
}

int RunBatch(const SCommandLine& commandLine, const CSecretText& password, SBatchRequest& request,
             CConsoleReporter& reporter)
{
    request.strPassword = password.Get();
    request.bCheckPlaintext = !commandLine.bNoCheck;
    CatchInterrupts();
    const SBatchResult result = RunDecryptionBatch(request, reporter, &reporter, &reporter);
    OPENSSL_cleanse(request.strPassword.data(), request.strPassword.size());
    if (result.bCancelled)
        return 128 + InterruptSignal();
    if (result.bTemplateEmpty)
        return kExitUsage;
    if (commandLine.bSkipExisting)
        reporter.WriteLine(messages::Skipped(result.nSkipped));
    return result.nFailures > 0 ? kExitFailure : kExitSuccess;
}

// Decrypts or checks, telling how it goes: messages and the progress line on stderr, trace lines on stdout.
int RunAndReport(const SCommandLine& commandLine, CSecretText& password, SBatchRequest& request)
{
    const bool bShowProgress = !commandLine.bQuiet && ::isatty(STDERR_FILENO) == 1;
    const bool bTraceOnTerminal = !commandLine.bQuiet && ::isatty(STDOUT_FILENO) == 1;
    CConsoleReporter reporter(bShowProgress, !commandLine.bQuiet, bTraceOnTerminal);
    reporter.SetVerbose(commandLine.bVerbose);
    if (utf8::CountCharacters(password.Get()) > kMaxPasswordChars) {
        reporter.WriteLine(messages::kPasswordTruncated);
        password.Truncate(utf8::FirstCharacters(password.Get(), kMaxPasswordChars).size());
    }
    if (commandLine.bCheckOnly)
        return RunCheck(request.paths, password.Get(), reporter);
    return RunBatch(commandLine, password, request, reporter);
}

} // namespace

int RunProgram(int argc, const char* const* argv)
{
    const SParseResult parsed = ParseCommandLine(argc, argv);
    std::cout << parsed.strOutput;
    std::cerr << parsed.strError;
    if (parsed.exitStatus)
        return *parsed.exitStatus;
    const SCommandLine& commandLine = parsed.commandLine;

    if (!SettleDesKernel())
        return kExitUsage;
    SBatchRequest request;
    bool bWalkFailed = false;
    if (!BuildRequest(commandLine, request, bWalkFailed))
        return kExitUsage;
    int nStatus = kExitSuccess;
    if (commandLine.bDryRun) {
        nStatus = PrintPlan(request);
    } else {
        CSecretText password;
        if (!GetPassword(commandLine, request, password))
            return kExitUsage;
        nStatus = RunAndReport(commandLine, password, request);
    }
    // A folder that could not be read fails a run that went well otherwise.
    const bool bWentWell = nStatus == kExitSuccess || nStatus == kExitLooksRandom;
    return bWalkFailed && bWentWell ? kExitFailure : nStatus;
}

} // namespace brasko::cli
