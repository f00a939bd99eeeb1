#include "DecryptionBatch.h"

#include "Messages.h"

#include <optional>
#include <sys/stat.h>

namespace brasko {

namespace {

struct SFileId
{
    dev_t dev;
    ino_t ino;
    bool operator==(const SFileId&) const = default;
};

std::optional<SFileId> IdOf(const std::string& strPath)
{
    struct stat info
    {
    };
    if (::stat(strPath.c_str(), &info) != 0)
        return std::nullopt;
    return SFileId{info.st_dev, info.st_ino};
}

// For each entry, whether its output path names an input of the batch: the same absolute path, or the same
// file reached another way (a link). Worked out before any file is written.
std::vector<bool> FindClobberingEntries(const CFileDecryptor& decryptor,
                                        const std::vector<std::string>& paths)
{
    std::vector<std::string> absoluteInputs;
    std::vector<std::optional<SFileId>> inputIds;
    for (const std::string& strPath : paths) {
        absoluteInputs.push_back(AbsolutePath(strPath));
        inputIds.push_back(IdOf(strPath));
    }
    std::vector<bool> clobbers(paths.size(), false);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string strOutput = decryptor.BuildOutputPath(paths[i]);
        const std::optional<SFileId> outputId = IdOf(strOutput);
        for (std::size_t j = 0; j < paths.size() && !clobbers[i]; ++j) {
            clobbers[i] = (!strOutput.empty() && strOutput == absoluteInputs[j]) ||
                          (outputId && inputIds[j] && *outputId == *inputIds[j]);
        }
    }
    return clobbers;
}

SBatchResult Cancelled(IMessageSink& messages, SBatchResult result)
{
    messages.ShowMessage(messages::kBatchCancelled, EMessageIcon::Default);
    result.bCancelled = true;
    return result;
}

} // namespace

SBatchResult RunDecryptionBatch(CFileDecryptor& decryptor, const std::string& strPassword,
                                const std::string& strPrefix, const std::string& strSuffix,
                                const std::string& strExtension, const std::vector<std::string>& paths,
                                IMessageSink& messages, IProgressSink* pProgress, IBatchObserver* pObserver,
                                unsigned nJobs)
{
    SBatchResult result;
    if (strPrefix.empty() && strSuffix.empty() && strExtension.empty()) {
        messages.ShowMessage(messages::kTemplateEmpty, EMessageIcon::Stop);
        result.bTemplateEmpty = true;
        return result;
    }
    // Only the template is handed over; the decryptor's other settings stay as the caller made them.
    decryptor.m_strPrefix = strPrefix;
    decryptor.m_strSuffix = strSuffix;
    decryptor.m_strExtension = strExtension;
    if (paths.empty()) {
        messages.ShowMessage(messages::kBatchSucceeded, EMessageIcon::Default);
        return result;
    }

    const std::vector<bool> clobbers = FindClobberingEntries(decryptor, paths);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (pProgress != nullptr) {
            pProgress->OnFileStarted(i, paths.size(), paths[i]);
            if (pProgress->IsCancelRequested())
                return Cancelled(messages, result);
        }
        SDecryptOutcome outcome;
        if (clobbers[i]) {
            outcome.error = EDecryptError::OutputIsInput;
            outcome.strOutputPath = decryptor.BuildOutputPath(paths[i]);
            messages.ShowMessage(messages::OutputWouldReplaceInput(paths[i], outcome.strOutputPath),
                                 EMessageIcon::Stop);
        } else {
            outcome = decryptor.DecryptFileWithOutcome(paths[i], strPassword, messages, pProgress, nJobs);
        }
        if (outcome.error == EDecryptError::Cancelled)
            return Cancelled(messages, result);
        if (!outcome.Succeeded())
            ++result.nFailures;
        if (pObserver != nullptr)
            pObserver->OnFileFinished(i, paths[i], outcome);
    }

    if (result.nFailures == 0)
        messages.ShowMessage(messages::kBatchSucceeded, EMessageIcon::Default);
    else
        messages.ShowMessage(messages::kBatchFailed, EMessageIcon::Stop);
    return result;
}

} // namespace brasko
