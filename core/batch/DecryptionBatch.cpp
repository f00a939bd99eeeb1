#include "DecryptionBatch.h"

#include "AtomicOutputFile.h"
#include "BatchRunners.h"
#include "DecryptStream.h"
#include "Messages.h"

#include <filesystem>
#include <new>
#include <sys/stat.h>
#include <system_error>

namespace brasko {

SDecryptOutcome DecryptEntry(const SBatchContext& context, std::size_t i, IMessageSink& messages,
                             IProgressSink* pProgress, const InputOpenedFn& onInputOpened,
                             std::unique_ptr<CAtomicOutputFile>* pPendingOutput)
{
    const std::string& strPath = context.request.paths[i];
    const std::string& strOutput = context.plan.outputs[i];
    try {
        switch (context.plan.verdicts[i]) {
        case EPlanVerdict::ReplacesInput:
            messages.ShowMessage(messages::OutputWouldReplaceInput(strPath, strOutput), EMessageIcon::Stop);
            return SDecryptOutcome{EDecryptError::ReplacesInput, 0, strOutput};
        case EPlanVerdict::DuplicateOutput:
            messages.ShowMessage(messages::OutputWouldBeWrittenTwice(strPath, strOutput), EMessageIcon::Stop);
            return SDecryptOutcome{EDecryptError::DuplicateOutput, 0, strOutput};
        case EPlanVerdict::Decrypt:
            break;
        }
        if (context.request.bSkipExisting && context.request.fdOutput < 0 && !strOutput.empty()) {
            // Outputs are only ever complete, so one that exists is one that was finished.
            struct stat info
            {
            };
            if (::lstat(strOutput.c_str(), &info) == 0) {
                SDecryptOutcome outcome{EDecryptError::None, 0, strOutput};
                outcome.bSkipped = true;
                return outcome;
            }
        }
        if (!context.request.strOutputDir.empty() && !strOutput.empty()) {
            // Folders below the output folder are made as needed, with the permissions the umask leaves.
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::path(strOutput).parent_path(), error);
            if (error)
                return SDecryptOutcome{EDecryptError::CreateOutput, error.value(), strOutput};
        }
        return context.decryptor.Decrypt({.strInputPath = strPath,
                                          .strOutputPath = strOutput,
                                          .cipher = context.cipher,
                                          .messages = messages,
                                          .pProgress = pProgress,
                                          .nJobs = context.request.nJobs,
                                          .onInputOpened = onInputOpened,
                                          .pPendingOutput = pPendingOutput,
                                          .fdInput = context.request.fdInput,
                                          .fdOutput = context.request.fdOutput});
    } catch (const std::bad_alloc&) {
        return OutOfMemoryOutcome(strOutput);
    }
}

SBatchResult Summary(IMessageSink& messages, SBatchResult result)
{
    if (result.nFailures == 0)
        messages.ShowMessage(messages::kBatchSucceeded, EMessageIcon::Default);
    else
        messages.ShowMessage(messages::kBatchFailed, EMessageIcon::Stop);
    return result;
}

SBatchResult Cancelled(IMessageSink& messages, SBatchResult result)
{
    messages.ShowMessage(messages::kBatchCancelled, EMessageIcon::Default);
    result.bCancelled = true;
    return result;
}

void Count(SBatchResult& result, const SDecryptOutcome& outcome)
{
    if (!outcome.Succeeded())
        ++result.nFailures;
    else if (outcome.bSkipped)
        ++result.nSkipped;
}

SBatchResult RunDecryptionBatch(const SBatchRequest& request, IMessageSink& messages,
                                IProgressSink* pProgress, IBatchObserver* pObserver)
{
    SBatchResult result;
    if (!request.HasTemplate()) {
        messages.ShowMessage(messages::kTemplateEmpty, EMessageIcon::Stop);
        result.bTemplateEmpty = true;
        return result;
    }
    if (request.paths.empty())
        return Summary(messages, result);

    try {
        const SBatchPlan plan = PlanBatch(request);
        CFileDecryptor decryptor(request.strPrefix, request.strSuffix, request.strExtension);
        decryptor.m_bCheckPlaintext = request.bCheckPlaintext;
        // The key is derived once for the whole batch; each file copies its schedule.
        const CTripleDesDecryptor cipher = PrepareCipher(request.Password());
        const SBatchContext context{request, plan, decryptor, cipher};
        const unsigned nThreads = EffectiveJobs(request.nJobs);
        if (nThreads > 1 && request.paths.size() > 1)
            return RunInParallel(context, nThreads, messages, pProgress, pObserver);
        return RunOnCallingThread(context, messages, pProgress, pObserver);
    } catch (const std::bad_alloc&) {
        // Not even the plan fits in memory: no file has been touched.
        result.nFailures = static_cast<int>(request.paths.size());
        return Summary(messages, result);
    }
}

} // namespace brasko
