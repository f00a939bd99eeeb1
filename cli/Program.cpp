#include "Program.h"

#include "ArchiveInputs.h"
#include "CipherReport.h"
#include "CliMessages.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "ContentCheck.h"
#include "DecryptStream.h"
#include "DecryptionBatch.h"
#include "FailureText.h"
#include "Interrupt.h"
#include "OutputTemplate.h"
#include "PasswordReader.h"
#include "SecureBuffer.h"
#include "TerminalText.h"
#include "Utf8.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <iostream>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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
    const SCipherReport cipher = ReportCipher();
    if (cipher.bRefused) {
        std::string strAvailable;
        for (const std::string& strName : cipher.available)
            strAvailable += (strAvailable.empty() ? "" : ", ") + strName;
        ReportError(messages::DesKernelRefused(cipher.strRequested, strAvailable));
        return false;
    }
    if (cipher.bSelfTestFailed)
        ReportError(messages::DesKernelSelfTestFailed(cipher.strFailed));
    return true;
}

// -c and -o take exactly one input, "-" for standard input; the plaintext goes to standard output, which
// must not be a terminal, or to the file named. False, with the reason told, when that does not hold.
bool BindSingleOutput(const SCommandLine& commandLine, SBatchRequest& request)
{
    if (!commandLine.bToStdout && commandLine.strOutputFile.empty())
        return true;
    if (request.paths.size() != 1) {
        ReportError(messages::OneInputOnly(commandLine.bToStdout ? "-c" : "-o", request.paths.size()));
        return false;
    }
    if (commandLine.bToStdout && ::isatty(STDOUT_FILENO) == 1) {
        ReportError(messages::kStdoutIsTerminal);
        return false;
    }
    if (request.paths.front() == "-" && commandLine.files.size() == 1 && commandLine.files.front() == "-")
        request.fdInput = STDIN_FILENO;
    if (commandLine.bToStdout)
        request.fdOutput = STDOUT_FILENO;
    request.strOutputFile = commandLine.strOutputFile;
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
    return BindSingleOutput(commandLine, request);
}

using HeldBackFolders = std::vector<std::pair<std::size_t, std::string>>;

// Entries per thread below which looking at a list is left to the calling thread: starting a thread costs
// about what some tens of stat calls do.
constexpr std::size_t kPathsPerStatThread = 256;

// Whether each path names a folder (1) or not (0). A long list is looked at by up to nThreads threads, each
// a run of it: before the batch starts one stat per entry is most of what happens, and on one thread it
// would hold the others back.
std::vector<char> FolderMarks(const std::vector<std::string>& paths, unsigned nThreads)
{
    std::vector<char> marks(paths.size(), 0);
    const auto markRun = [&](std::size_t nBegin, std::size_t nEnd) {
        for (std::size_t i = nBegin; i < nEnd; ++i) {
            struct stat info
            {
            };
            marks[i] = ::stat(paths[i].c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
        }
    };
    const std::size_t nRuns = std::clamp<std::size_t>(paths.size() / kPathsPerStatThread, 1, nThreads);
    const std::size_t nRun = (paths.size() + nRuns - 1) / nRuns;
    std::vector<std::thread> threads;
    std::size_t nDone = nRun; // the calling thread's run is the first
    try {
        threads.reserve(nRuns - 1);
        for (; nDone < paths.size(); nDone += nRun)
            threads.emplace_back(markRun, nDone, std::min(nDone + nRun, paths.size()));
    } catch (const std::exception&) {
        // A thread that could not be started leaves the rest of the list to the calling thread.
    }
    markRun(0, std::min(nRun, paths.size()));
    markRun(nDone, paths.size());
    for (std::thread& thread : threads)
        thread.join();
    return marks;
}

// A folder given without -r is not handed to the batch: the reporter tells it in its place, with a hint to
// -r, and counts it as a failure. Answers each folder taken out with the number of entries kept before it.
HeldBackFolders TakeOutFolders(SBatchRequest& request)
{
    const std::vector<char> isFolder = FolderMarks(request.paths, EffectiveJobs(request.nJobs));
    HeldBackFolders folders;
    std::size_t nKept = 0;
    for (std::size_t i = 0; i < request.paths.size(); ++i) {
        if (isFolder[i] != 0) {
            folders.emplace_back(nKept, std::move(request.paths[i]));
            continue;
        }
        if (nKept != i) {
            request.paths[nKept] = std::move(request.paths[i]);
            if (!request.subFolders.empty())
                request.subFolders[nKept] = std::move(request.subFolders[i]);
        }
        ++nKept;
    }
    request.paths.resize(nKept);
    if (!request.subFolders.empty())
        request.subFolders.resize(nKept);
    return folders;
}

// Without a template or without files the batch needs no password, so the terminal is not asked then; a
// source named on the command line is read all the same, and its errors reported. False when there is none.
bool GetPassword(const SCommandLine& commandLine, const SBatchRequest& request, CSecretText& password)
{
    const bool bTemplateEmpty = !request.HasTemplate();
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
int RunCheck(const std::vector<std::string>& files, std::string_view password, CConsoleReporter& reporter)
{
    CatchInterrupts();
    bool bUnreadable = false;
    bool bLooksRandom = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        reporter.OnFileStarted(i, files.size(), files[i]);
        if (reporter.IsCancelRequested())
            return 128 + InterruptSignal();
        const SDecryptOutcome outcome = CheckFileContent(
            files[i], password, reporter, [&reporter] { return reporter.IsCancelRequested(); });
        if (outcome.error == EDecryptError::Cancelled)
            return 128 + InterruptSignal();
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

// Swallows the trial's messages: the batch reports inputs that cannot be opened itself.
class CSilentSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& /*strText*/, EMessageIcon /*icon*/) override {}
};

// The password tried on the first input that can be opened, in memory, as the dialog tries it before it
// writes. Answers that input when its start decrypts to random-looking bytes; nothing when it does not, or
// when no input can be opened.
std::optional<std::string> PasswordTrialLooksRandom(const SBatchRequest& request)
{
    CSilentSink silent;
    for (const std::string& strPath : request.paths) {
        const SDecryptOutcome outcome =
            CheckFileContent(strPath, request.Password(), silent, {}, EPlausibilityDetail::Verdict);
        if (IsOpenFailure(outcome.error))
            continue;
        if (outcome.plausibility.verdict == EPlausibility::LooksRandom)
            return strPath;
        return std::nullopt;
    }
    return std::nullopt;
}

// The trial of the password, then the batch. Answers the exit status; nHeldBack entries failed before.
int TryAndDecrypt(const SCommandLine& commandLine, const SBatchRequest& request, std::size_t nHeldBack,
                  CConsoleReporter& reporter)
{
    const bool bTemplateEmpty = !request.HasTemplate();
    // An empty template is the batch's to report.
    // Standard input cannot be read twice; its plaintext is judged once it has been written.
    if (request.bCheckPlaintext && !bTemplateEmpty && request.fdInput < 0) {
        if (const std::optional<std::string> strRandom = PasswordTrialLooksRandom(request)) {
            reporter.WriteLine(messages::PasswordTrialFailed(*strRandom));
            return kExitLooksRandom;
        }
    }
    CatchInterrupts();
    const SBatchResult result = RunDecryptionBatch(request, reporter, &reporter, &reporter);
    if (result.bCancelled)
        return 128 + InterruptSignal();
    if (result.bTemplateEmpty)
        return kExitUsage;
    if (commandLine.bSkipExisting)
        reporter.WriteLine(messages::Skipped(result.nSkipped));
    return result.nFailures > 0 || nHeldBack > 0 ? kExitFailure : kExitSuccess;
}

int RunBatch(const SCommandLine& commandLine, const CSecretText& password, SBatchRequest& request,
             const HeldBackFolders& folders, CConsoleReporter& reporter)
{
    for (const auto& [nBatchIndex, strFolder] : folders)
        reporter.AddHeldBackFailure(nBatchIndex, messages::FolderWithoutRecursive(strFolder));
    request.pPassword = &password.Buffer();
    request.bCheckPlaintext = !commandLine.bNoCheck;
    return TryAndDecrypt(commandLine, request, folders.size(), reporter);
}

// Decrypts or checks, telling how it goes: messages and the progress line on stderr, trace lines on stdout.
int RunAndReport(const SCommandLine& commandLine, CSecretText& password, SBatchRequest& request,
                 const HeldBackFolders& folders)
{
    const bool bShowProgress = !commandLine.bQuiet && ::isatty(STDERR_FILENO) == 1;
    // With -c standard output carries the plaintext alone.
    const bool bTrace = !commandLine.bQuiet && !commandLine.bToStdout;
    const bool bTraceOnTerminal = bTrace && ::isatty(STDOUT_FILENO) == 1;
    CConsoleReporter reporter(bShowProgress, bTrace, bTraceOnTerminal);
    reporter.SetVerbose(commandLine.bVerbose && !commandLine.bToStdout);
    reporter.SetQuiet(commandLine.bQuiet);
    if (utf8::CountCharacters(password.Get()) > kMaxPasswordChars) {
        reporter.WriteLine(messages::kPasswordTruncated);
        password.Truncate(utf8::FirstCharacters(password.Get(), kMaxPasswordChars).size());
    }
    if (commandLine.bCheckOnly)
        return RunCheck(request.paths, password.Get(), reporter);
    return RunBatch(commandLine, password, request, folders, reporter);
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
        // --check judges a folder as it judges any input that cannot be read.
        const HeldBackFolders folders =
            commandLine.bRecursive || commandLine.bCheckOnly || request.fdInput >= 0
                ? HeldBackFolders()
                : TakeOutFolders(request);
        CSecretText password;
        if (!GetPassword(commandLine, request, password))
            return kExitUsage;
        nStatus = RunAndReport(commandLine, password, request, folders);
    }
    // A folder that could not be read fails a run that went well otherwise.
    const bool bWentWell = nStatus == kExitSuccess || nStatus == kExitLooksRandom;
    return bWalkFailed && bWentWell ? kExitFailure : nStatus;
}

} // namespace brasko::cli
