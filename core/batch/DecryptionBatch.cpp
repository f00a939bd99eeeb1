#include "DecryptionBatch.h"

#include "AtomicOutputFile.h"
#include "BatchPlan.h"
#include "BatchRunners.h"
#include "DecryptStream.h"
#include "Messages.h"
#include "OutputFolder.h"
#include "PathResolver.h"

#include <new>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace brasko {

namespace {

// The part of an input's path that the folder walk found below its folder argument, in bytes.
std::size_t WalkedTail(const SBatchRequest& request, std::size_t i)
{
    if (i >= request.subFolders.size() || request.subFolders[i].empty())
        return 0;
    const std::string& strPath = request.paths[i];
    return request.subFolders[i].size() + strPath.size() - (strPath.rfind('/') + 1);
}

} // namespace

SDecryptOutcome DecryptEntry(const SBatchContext& context, SWorkerCache& cache, std::size_t i,
                             IMessageSink& messages, IProgressSink* pProgress,
                             const InputOpenedFn& onInputOpened,
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
            struct stat input
            {
            };
            const int nStat = context.request.fdInput >= 0 ? ::fstat(context.request.fdInput, &input)
                                                           : StatByRule(strPath, true, input);
            if (nStat == 0 && IsFinishedOutput(input, strOutput)) {
                SDecryptOutcome outcome{EDecryptError::None, 0, strOutput};
                outcome.bSkipped = true;
                return outcome;
            }
        }
        // Folders below the output folder are made as needed, with the permissions the umask leaves, and the
        // output is written through the descriptor of its folder, so that nothing swapped in on the way
        // counts. The thread's cache keeps the folder of the previous output.
        int fdOutputFolder = -1;
        if (!context.plan.strOutputDir.empty() && strOutput.starts_with(context.plan.strOutputDir)) {
            const std::size_t nBase = context.plan.strOutputDir.size();
            const std::string_view sub =
                std::string_view(strOutput).substr(nBase, strOutput.rfind('/') + 1 - nBase);
            bool bRefused = false;
            std::string strRefused;
            if (const int nError = cache.outputFolders.Open(sub, fdOutputFolder, bRefused, strRefused);
                nError != 0) {
                if (!bRefused)
                    return SDecryptOutcome{EDecryptError::CreateOutput, nError, strOutput};
                messages.ShowMessage(messages::OutputFolderIsForeign(strPath, strRefused),
                                     EMessageIcon::Stop);
                return SDecryptOutcome{EDecryptError::OutputRefused, nError, strOutput};
            }
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
                                          .fdOutput = context.request.fdOutput,
                                          .fdOutputFolder = fdOutputFolder,
                                          .bOutputBesideInput = context.plan.strOutputDir.empty() &&
                                                                context.request.strOutputFile.empty() &&
                                                                context.request.fdOutput < 0,
                                          .bOutputNameFree = context.plan.freeOutputNames[i],
                                          .nInputWalked = WalkedTail(context.request, i),
                                          .pInputCache = &cache.inputs});
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
