#include "ArchiveInputs.h"

#include "BatchPlan.h"
#include "CliMessages.h"
#include "FailureText.h"
#include "FileHandle.h"
#include "Messages.h"
#include "TerminalText.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace brasko::cli {

namespace {

// The whole list, from standard input or a file. False with errno set.
bool ReadList(const std::string& strSource, std::string& strContent)
{
    CFileHandle owned;
    int fd = STDIN_FILENO;
    if (strSource != "-") {
        owned = CFileHandle(::open(strSource.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (!owned)
            return false;
        fd = owned.Get();
    }
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    for (;;) {
        const std::size_t nOld = strContent.size();
        strContent.resize(nOld + kBlock);
        const ssize_t nRead = ReadFully(fd, strContent.data() + nOld, kBlock);
        if (nRead < 0)
            return false;
        strContent.resize(nOld + static_cast<std::size_t>(nRead));
        if (static_cast<std::size_t>(nRead) < kBlock)
            return true;
    }
}

} // namespace

bool CollectInputs(const SCommandLine& commandLine, SInputList& inputs, std::string& strError)
{
    for (const std::string& strPath : commandLine.files)
        AddInput(strPath, commandLine.bRecursive, inputs);
    if (commandLine.strFilesFrom.empty())
        return true;

    std::string strList;
    if (!ReadList(commandLine.strFilesFrom, strList)) {
        strError = messages::FileListFailed(commandLine.strFilesFrom, SystemErrorText(errno));
        return false;
    }
    const char cSeparator = commandLine.bNullSeparated ? '\0' : '\n';
    std::size_t nStart = 0;
    for (std::size_t nLine = 1; nStart < strList.size(); ++nLine) {
        std::size_t nEnd = strList.find(cSeparator, nStart);
        if (nEnd == std::string::npos)
            nEnd = strList.size();
        std::string strName = strList.substr(nStart, nEnd - nStart);
        // The system would read a line with a NUL only up to it, while the output's name would be formed
        // from the whole line: "a.enc\0/../x" reads a.enc and writes elsewhere. The list is refused whole.
        if (!commandLine.bNullSeparated && strName.find('\0') != std::string::npos) {
            strError = messages::FileListLineHasNul(commandLine.strFilesFrom, nLine);
            return false;
        }
        // A list written on Windows ends its lines in CR LF.
        if (!commandLine.bNullSeparated && strName.ends_with('\r'))
            strName.pop_back();
        if (!strName.empty())
            AddInput(strName, commandLine.bRecursive, inputs);
        nStart = nEnd + 1;
    }
    return true;
}

int PrintPlan(const SBatchRequest& request)
{
    if (!request.HasTemplate()) {
        std::cerr << brasko::messages::kTemplateEmpty << '\n';
        return kExitUsage;
    }
    const SBatchPlan plan = PlanBatch(request);
    std::size_t nSkipped = 0;
    std::string strOut;
    for (std::size_t i = 0; i < request.paths.size(); ++i) {
        const std::string& strPath = request.paths[i];
        const std::string& strOutput = plan.outputs[i];
        switch (plan.verdicts[i]) {
        case EPlanVerdict::ReplacesInput:
            std::cout << strOut << std::flush;
            strOut.clear();
            std::cerr << EscapeForTerminal(brasko::messages::OutputWouldReplaceInput(strPath, strOutput))
                      << '\n';
            continue;
        case EPlanVerdict::DuplicateOutput:
            std::cout << strOut << std::flush;
            strOut.clear();
            std::cerr << EscapeForTerminal(brasko::messages::OutputWouldBeWrittenTwice(strPath, strOutput))
                      << '\n';
            continue;
        case EPlanVerdict::Decrypt:
            break;
        }
        if (request.bSkipExisting && IsFinishedOutput(strPath, strOutput)) {
            ++nSkipped;
            continue;
        }
        strOut += messages::Mapping(QuoteForTerminal(strPath), QuoteForTerminal(strOutput)) + '\n';
        if (strOut.size() >= (std::size_t{1} << 16)) {
            std::cout << strOut;
            strOut.clear();
        }
    }
    std::cout << strOut << std::flush;
    if (request.bSkipExisting)
        std::cerr << messages::Skipped(nSkipped) << '\n';
    return plan.nRefused > 0 ? kExitFailure : kExitSuccess;
}

} // namespace brasko::cli
