#pragma once

#include "DecryptOutcome.h"
#include "FileHandle.h"
#include "MessageSink.h"
#include "PathResolver.h"
#include "ProgressSink.h"
#include "TripleDes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace brasko {

class CAtomicOutputFile;

// Told once the input of a file is open; the front ends write their trace line then.
using InputOpenedFn = std::function<void()>;

// The cipher for a password, set up once for all the files decrypted under it: each takes a copy of its key
// schedule. When it cannot be set up (no usable cipher, no memory) every file fails with CipherSetup.
CTripleDesDecryptor PrepareCipher(std::string_view password);

// What one thread keeps from one input to the next, so that each check is done once: the folder of the last
// input (CFileOpener) and the last device found to be a file system that stores files.
struct SInputCache
{
    CFileOpener opener;
    dev_t nStoringDevice = 0;
    bool bStoringDevice = false;
};

// One file to decrypt, and where its news goes.
struct SDecryptJob
{
    std::string strInputPath;
    // Empty fails with CreateOutput once the input has been opened: no path could be formed for it.
    std::string strOutputPath;
    const CTripleDesDecryptor& cipher; // from PrepareCipher
    IMessageSink& messages;
    IProgressSink* pProgress = nullptr;
    // Threads that may decrypt a file of a chunk (kChunkSize) or more: 0 one per hardware thread, 1 the
    // calling thread only. Shorter files never start a thread. Progress may then come from a worker thread.
    unsigned nJobs = 0;
    InputOpenedFn onInputOpened = {}; // called once the input is open; may be empty
    // When given, the fully written output is handed over here instead of being put in place: the caller
    // commits it (or drops it, which leaves nothing behind).
    std::unique_ptr<CAtomicOutputFile>* pPendingOutput = nullptr;
    // A descriptor to read instead of opening strInputPath (standard input), or -1. It may be a pipe.
    int fdInput = -1;
    // A descriptor the plaintext is written to as it comes (standard output) instead of an output file, or
    // -1. A failure midway leaves what was written there.
    int fdOutput = -1;
    // The folder the output is written in, already opened (a folder made below the output folder), or -1.
    // Then only the last name of strOutputPath counts; the rest names it in messages.
    int fdOutputFolder = -1;
    // The output goes next to the input (strOutputPath names it there): it is written in the very folder the
    // input was opened from, under the last name of strOutputPath.
    bool bOutputBesideInput = false;
    // Nothing stood at the output's name a moment ago (SBatchPlan::freeOutputNames): the output is created
    // without looking at the name again, and takes it only while it is free; it replaces nothing.
    bool bOutputNameFree = false;
    // Bytes at the end of strInputPath that a folder walk found below a folder argument: a folder among them
    // that has become a link since is not followed (ResolvePath).
    std::size_t nInputWalked = 0;
    // Kept by the calling thread across the files of a batch, or none.
    SInputCache* pInputCache = nullptr;
};

// The output-name template and the decryption of one file under it.
class CFileDecryptor
{
public:
    CFileDecryptor() = default;
    CFileDecryptor(std::string strPrefix, std::string strSuffix, std::string strExtension);

    // The output path for an input under the template (SOutputTemplate::BuildOutputPath): the input's
    // absolute folder, then prefix, base name, suffix, the name's extension and the file ending.
    std::string BuildOutputPath(const std::string& strInputPath) const;

    // Decrypts one file. A missing input is reported through the job's messages. Nothing is written to
    // standard output. The output is replaced only when the whole input has been decrypted. No exception
    // leaves it: a failed allocation is the failure OutOfMemory.
    SDecryptOutcome Decrypt(const SDecryptJob& job) const;

    // Decrypts one file into its output path (BuildOutputPath) under the password: 0 on success, 1 on
    // failure, as the batch sums them.
    int DecryptFile(const std::string& strInputPath, const std::string& strPassword, IMessageSink& messages,
                    IProgressSink* pProgress = nullptr, unsigned nJobs = 0) const;

    std::string m_strPrefix;
    std::string m_strSuffix;
    std::string m_strExtension;
    // Judge the start of each decrypted plaintext (SDecryptOutcome::plausibility).
    bool m_bCheckPlaintext = false;

private:
    SDecryptOutcome DecryptOneFile(const SDecryptJob& job) const;
    // The plaintext straight to job.fdOutput; nothing to put in place, so nothing to take back.
    SDecryptOutcome DecryptToDescriptor(const SDecryptJob& job, int fdInput, CTripleDesDecryptor& cipher,
                                        std::uint64_t nTotal) const;
};

// The checks an input gets on its descriptor right after it has been opened (with O_NONBLOCK, so that the
// open of a pipe does not wait for a writer): a regular file (a folder gives EISDIR, anything else EINVAL)
// on a file system that stores files, not /proc, /sys or their kind (InputOnPseudoFileSystem). Fills info
// and makes the descriptor's reads blocking again. None, or the failure with errno set.
EDecryptError CheckInputDescriptor(int fd, struct stat& info);

// Opens an input as DecryptFile does (CheckInputDescriptor). An invalid handle with errno and failure set
// when it fails.
CFileHandle OpenInputFile(const std::string& strPath, struct stat& info, EDecryptError& failure);

} // namespace brasko
