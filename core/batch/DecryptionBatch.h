#pragma once

#include "BatchObserver.h"
#include "BatchRequest.h"
#include "DecryptOutcome.h"
#include "MessageSink.h"
#include "ProgressSink.h"

#include <cstddef>
#include <string>

namespace brasko {

struct SBatchResult
{
    bool bTemplateEmpty = false; // nothing was done: all three template fields were empty
    int nFailures = 0;           // files that could not be decrypted
    bool bCancelled = false;     // the user stopped the batch; it said so instead of a summary
    std::size_t nSkipped = 0;    // files left alone because their output existed (bSkipExisting)
};

// Checks the template, decrypts every path of the request once and shows one summary message. An entry
// whose output would replace an input of the same batch, or that would write the same output as another
// entry, is not decrypted: it counts as a failure and gets a message of its own. With more than one
// thread (request.nJobs) several files are decrypted at once; messages, progress, the observer's calls
// and the summary still come in the order of the paths, each file's messages before any later file's,
// and never from two threads at once. When the progress sink asks to cancel, the files being decrypted
// are abandoned, no further file starts and the batch ends with a message that says so. No exception
// leaves it: a failed allocation is a failure of the file it happened in.
SBatchResult RunDecryptionBatch(const SBatchRequest& request, IMessageSink& messages,
                                IProgressSink* pProgress = nullptr, IBatchObserver* pObserver = nullptr);

} // namespace brasko
