#pragma once

// Inside the batch: what its serial and its parallel runner share.

#include "BatchPlan.h"
#include "DecryptionBatch.h"
#include "FileDecryptor.h"
#include "OutputFolder.h"

#include <cstddef>
#include <memory>

namespace brasko {

class CAtomicOutputFile;

// What the batch needs for every entry, shared read-only by the threads that decrypt.
struct SBatchContext
{
    const SBatchRequest& request;
    const SBatchPlan& plan;
    const CFileDecryptor& decryptor;
    const CTripleDesDecryptor& cipher; // prepared once for the request's password
};

// What a thread of the batch keeps from one file to the next: the folders of the last input and output.
struct SWorkerCache
{
    explicit SWorkerCache(const SBatchContext& context) : outputFolders(context.plan.strOutputDir) {}

    SInputCache inputs;
    COutputFolders outputFolders; // below the plan's output folder, when there is one
};

// Decrypts entry i unless the plan refuses it or its output exists and may be skipped. Messages go to
// messages, the opening of the input to onInputOpened; pPendingOutput as in SDecryptJob.
SDecryptOutcome DecryptEntry(const SBatchContext& context, SWorkerCache& cache, std::size_t i,
                             IMessageSink& messages, IProgressSink* pProgress,
                             const InputOpenedFn& onInputOpened,
                             std::unique_ptr<CAtomicOutputFile>* pPendingOutput = nullptr);

// The end of a batch: the summary message, or the one that says the batch was cancelled.
SBatchResult Summary(IMessageSink& messages, SBatchResult result);
SBatchResult Cancelled(IMessageSink& messages, SBatchResult result);
// Counts a reported file's outcome into the result.
void Count(SBatchResult& result, const SDecryptOutcome& outcome);

// One file after another on the calling thread.
SBatchResult RunOnCallingThread(const SBatchContext& context, IMessageSink& messages,
                                IProgressSink* pProgress, IBatchObserver* pObserver);

// Several files at once on nThreads threads, reported in the batch's order.
SBatchResult RunInParallel(const SBatchContext& context, unsigned nThreads, IMessageSink& messages,
                           IProgressSink* pProgress, IBatchObserver* pObserver);

} // namespace brasko
