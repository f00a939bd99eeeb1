#include "BatchRunners.h"

namespace brasko {

SBatchResult RunOnCallingThread(const SBatchContext& context, IMessageSink& messages,
                                IProgressSink* pProgress, IBatchObserver* pObserver)
{
    const std::vector<std::string>& paths = context.request.paths;
    SBatchResult result;
    SWorkerCache cache(context);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (pProgress != nullptr) {
            pProgress->OnFileStarted(i, paths.size(), paths[i]);
            if (pProgress->IsCancelRequested())
                return Cancelled(messages, result);
        }
        const SDecryptOutcome outcome = DecryptEntry(context, cache, i, messages, pProgress, [&] {
            if (pObserver != nullptr)
                pObserver->OnInputOpened(i, paths[i]);
        });
        if (outcome.error == EDecryptError::Cancelled)
            return Cancelled(messages, result);
        Count(result, outcome);
        if (pObserver != nullptr)
            pObserver->OnFileFinished(i, paths[i], outcome);
    }
    return Summary(messages, result);
}

} // namespace brasko
