#pragma once

#include "FileDecryptor.h"
#include "MessageSink.h"
#include "ProgressSink.h"

#include <string>
#include <vector>

namespace brasko {

struct SBatchResult
{
    bool bTemplateEmpty = false; // nothing was done: all three template fields were empty
    int nFailures = 0;           // files that could not be decrypted
    bool bCancelled = false;     // the user stopped the batch; it said so instead of a summary
};

// Observes each file's outcome, for front ends that say more than the summary (the command line adds the
// reason the system gave). Optional.
class IBatchObserver
{
public:
    virtual ~IBatchObserver() = default;
    virtual void OnFileFinished(std::size_t nIndex, const std::string& strPath,
                                const SDecryptOutcome& outcome) = 0;
};

// Checks the template, hands it to the decryptor, decrypts every path once in the given order and shows
// one summary message. An entry whose output would replace an input of the same batch is not decrypted:
// it counts as a failure and gets a message of its own. When the progress sink asks to cancel, the file
// being decrypted is abandoned and the batch ends at once with a message that says so. nJobs as for
// CFileDecryptor::DecryptFile.
SBatchResult RunDecryptionBatch(CFileDecryptor& decryptor, const std::string& strPassword,
                                const std::string& strPrefix, const std::string& strSuffix,
                                const std::string& strExtension, const std::vector<std::string>& paths,
                                IMessageSink& messages, IProgressSink* pProgress = nullptr,
                                IBatchObserver* pObserver = nullptr, unsigned nJobs = 0);

} // namespace brasko
