#pragma once

#include "FileHandle.h"
#include "MessageSink.h"
#include "Plausibility.h"
#include "ProgressSink.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace brasko {

class CAtomicOutputFile;

// Why a decryption failed. The user has been told by a message for InputMissing, InputNotRegular and
// OpenInput, and by the batch for ReplacesInput and DuplicateOutput.
enum class EDecryptError
{
    None,
    OpenInput,       // the input exists but cannot be opened (nSystemError says why)
    CipherSetup,     // the cipher could not be set up
    OutputIsInput,   // the output path names the input file itself
    CreateOutput,    // the output cannot be created (or is a folder, device, pipe or read-only file)
    Read,            // reading the input failed
    Write,           // writing or completing the output failed
    Cancelled,       // the user asked to stop (IProgressSink::IsCancelRequested)
    OutputRefused,   // the output is a link or file that must not be written through or replaced (a link or
                     // file of another user in a shared folder, a link to nothing); the user has been told
    InputShrank,     // the input got shorter while it was read; the user has been told
    InputMissing,    // there is no file at the input path
    InputNotRegular, // the input is a folder, a device, a pipe or another file that is not a regular one
    OutOfMemory,     // memory for the file's decryption could not be had
    ReplacesInput,   // the output would replace another input of the same batch
    DuplicateOutput, // another entry of the same batch would write the same output
};

struct SDecryptOutcome
{
    SDecryptOutcome() = default;
    SDecryptOutcome(EDecryptError anError, int nError, std::string strOutput = {}, SPlausibility judged = {})
        : error(anError), nSystemError(nError), strOutputPath(std::move(strOutput)),
          plausibility(std::move(judged))
    {}

    EDecryptError error = EDecryptError::None;
    int nSystemError = 0; // errno of the failing call, 0 when there is none
    std::string strOutputPath;
    SPlausibility plausibility; // of the plaintext, when the decryptor was asked to judge it
    bool bSkipped = false;      // the output existed already and was left alone (a success)

    bool Succeeded() const { return error == EDecryptError::None; }
};

// Told once the input of a file is open; the front ends write their trace line then.
using InputOpenedFn = std::function<void()>;

// The output-name template and the decryption of one file under it.
class CFileDecryptor
{
public:
    CFileDecryptor() = default;
    CFileDecryptor(std::string strPrefix, std::string strSuffix, std::string strExtension);

    // The output path for an input: the input's absolute folder (resolved against the current directory,
    // "." and ".." folded without following links), then prefix, base name, suffix, the name's extension
    // from its first dot (not a leading one), and the file ending.
    std::string BuildOutputPath(const std::string& strInputPath) const;
    // The output's name for an input's name (no folder): prefix, base name, suffix, extension, file ending.
    std::string BuildOutputName(const std::string& strInputName) const;

    // Decrypts one file into its output path. 0 on success, 1 on failure, as the batch sums them.
    // A missing input is reported through messages; onInputOpened is called once the input is open.
    // Nothing is written to standard output. The output is replaced only when the whole input has been
    // decrypted. No exception leaves it: a failed allocation is the failure OutOfMemory.
    // nJobs: threads that may decrypt one file of a chunk (kChunkSize) or more; 0 means one per hardware
    // thread, 1 decrypts on the calling thread only. Shorter files never start a thread. Progress may then
    // be reported from a worker thread.
    int DecryptFile(const std::string& strInputPath, const std::string& strPassword, IMessageSink& messages,
                    IProgressSink* pProgress = nullptr, unsigned nJobs = 0) const;

    // The same, telling why a decryption failed.
    SDecryptOutcome DecryptFileWithOutcome(const std::string& strInputPath, const std::string& strPassword,
                                           IMessageSink& messages, IProgressSink* pProgress = nullptr,
                                           unsigned nJobs = 0, const InputOpenedFn& onInputOpened = {}) const;

    // The same into a given output path instead of the one BuildOutputPath names (an empty path fails
    // with CreateOutput after the input has been opened). With pPendingOutput the fully written output is
    // handed over there instead of being put in place: the caller commits it (or drops it, which leaves
    // nothing behind).
    SDecryptOutcome DecryptFileTo(const std::string& strInputPath, const std::string& strOutputPath,
                                  const std::string& strPassword, IMessageSink& messages,
                                  IProgressSink* pProgress = nullptr, unsigned nJobs = 0,
                                  const InputOpenedFn& onInputOpened = {},
                                  std::unique_ptr<CAtomicOutputFile>* pPendingOutput = nullptr) const;

    std::string m_strPrefix;
    std::string m_strSuffix;
    std::string m_strExtension;
    // Judge the start of each decrypted plaintext (SDecryptOutcome::plausibility).
    bool m_bCheckPlaintext = false;

private:
    SDecryptOutcome DecryptOneFile(const std::string& strInputPath, const std::string& strOutputPath,
                                   const std::string& strPassword, IMessageSink& messages,
                                   IProgressSink* pProgress, unsigned nJobs,
                                   const InputOpenedFn& onInputOpened,
                                   std::unique_ptr<CAtomicOutputFile>* pPendingOutput) const;
};

// The input's full path with "." and ".." folded, relative paths resolved against the current directory.
// Empty when the current directory cannot be determined.
std::string AbsolutePath(const std::string& strPath);

// Opens an input as DecryptFile does: regular files only (a folder gives EISDIR, anything else EINVAL),
// without waiting for a pipe's writer. An invalid handle with errno and failure set when it fails.
CFileHandle OpenInputFile(const std::string& strPath, struct stat& info, EDecryptError& failure);

} // namespace brasko
