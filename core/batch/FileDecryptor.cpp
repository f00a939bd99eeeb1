#include "FileDecryptor.h"

#include "AtomicOutputFile.h"
#include "DecryptStream.h"
#include "FileHandle.h"
#include "Messages.h"
#include "OutputTemplate.h"
#include "TripleDes.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace brasko {

namespace {

// Opens the input for reading. Anything but a regular file counts as not openable (bNotRegular);
// O_NONBLOCK keeps the open of a pipe from waiting for a writer.
CFileHandle OpenInput(const std::string& strPath, struct stat& info, bool& bNotRegular)
{
    bNotRegular = false;
    CFileHandle file(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file)
        return file;
    if (::fstat(file.Get(), &info) != 0)
        return {};
    if (!S_ISREG(info.st_mode)) {
        bNotRegular = true;
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    const int nFlags = ::fcntl(file.Get(), F_GETFL);
    if (nFlags < 0 || ::fcntl(file.Get(), F_SETFL, nFlags & ~O_NONBLOCK) != 0)
        return {};
    return file;
}

bool NamesFile(const std::string& strPath, const struct stat& file)
{
    struct stat info
    {
    };
    return ::stat(strPath.c_str(), &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
}

std::string RefusalMessage(EOutputRefusal refusal, const std::string& strPath,
                           const std::string& strOutputPath)
{
    switch (refusal) {
    case EOutputRefusal::ForeignLink:
        return messages::OutputIsForeignLink(strPath, strOutputPath);
    case EOutputRefusal::DanglingLink:
        return messages::OutputIsDanglingLink(strPath, strOutputPath);
    case EOutputRefusal::ForeignFile:
    case EOutputRefusal::None:
        break;
    }
    return messages::OutputIsForeignFile(strPath, strOutputPath);
}

SDecryptOutcome Failure(EDecryptError error, int nSystemError, std::string strOutputPath = {})
{
    return SDecryptOutcome{error, nSystemError, std::move(strOutputPath)};
}

EDecryptError OpenFailure(int nError, bool bNotRegular)
{
    if (bNotRegular)
        return EDecryptError::InputNotRegular;
    return nError == ENOENT || nError == ENOTDIR ? EDecryptError::InputMissing : EDecryptError::OpenInput;
}

// Checks the output path of an input that is open and creates the output's temporary file.
SDecryptOutcome OpenOutput(const SDecryptJob& job, const struct stat& inputInfo,
                           std::unique_ptr<CAtomicOutputFile>& pOutput)
{
    if (job.strOutputPath.empty())
        return Failure(EDecryptError::CreateOutput, ENOENT); // the current folder is gone
    // Writing over the input would destroy it before it is read.
    if (NamesFile(job.strOutputPath, inputInfo))
        return Failure(EDecryptError::OutputIsInput, 0, job.strOutputPath);
    // The output is never readable by more users than the input. Its owner may always write it, so that a
    // read-only input (an archive) does not give an output that the next run could not replace.
    pOutput = std::make_unique<CAtomicOutputFile>(job.strOutputPath, (inputInfo.st_mode & 0777) | S_IWUSR);
    if (const int nError = pOutput->Open(); nError != 0) {
        if (const EOutputRefusal refusal = pOutput->Refusal(); refusal != EOutputRefusal::None) {
            job.messages.ShowMessage(RefusalMessage(refusal, job.strInputPath, job.strOutputPath),
                                     EMessageIcon::Stop);
            return Failure(EDecryptError::OutputRefused, nError, job.strOutputPath);
        }
        return Failure(EDecryptError::CreateOutput, nError, job.strOutputPath);
    }
    return {};
}

} // namespace

CTripleDesDecryptor PrepareCipher(std::string_view password)
{
    CTripleDesDecryptor cipher;
    cipher.Init(DeriveKey(password));
    return cipher;
}

CFileDecryptor::CFileDecryptor(std::string strPrefix, std::string strSuffix, std::string strExtension)
    : m_strPrefix(std::move(strPrefix)), m_strSuffix(std::move(strSuffix)),
      m_strExtension(std::move(strExtension))
{}

std::string CFileDecryptor::BuildOutputPath(const std::string& strInputPath) const
{
    return SOutputTemplate{m_strPrefix, m_strSuffix, m_strExtension}.BuildOutputPath(strInputPath);
}

int CFileDecryptor::DecryptFile(const std::string& strInputPath, const std::string& strPassword,
                                IMessageSink& messages, IProgressSink* pProgress, unsigned nJobs) const
{
    try {
        const CTripleDesDecryptor cipher = PrepareCipher(strPassword);
        const SDecryptJob job{.strInputPath = strInputPath,
                              .strOutputPath = BuildOutputPath(strInputPath),
                              .cipher = cipher,
                              .messages = messages,
                              .pProgress = pProgress,
                              .nJobs = nJobs};
        return Decrypt(job).Succeeded() ? 0 : 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}

SDecryptOutcome CFileDecryptor::Decrypt(const SDecryptJob& job) const
{
    try {
        return DecryptOneFile(job);
    } catch (const std::bad_alloc&) {
        return OutOfMemoryOutcome(job.strOutputPath);
    } catch (const std::system_error& error) {
        return Failure(EDecryptError::Write, error.code().value(), job.strOutputPath);
    }
}

SDecryptOutcome CFileDecryptor::DecryptOneFile(const SDecryptJob& job) const
{
    CTripleDesDecryptor cipher;
    if (!cipher.InitFrom(job.cipher))
        return Failure(EDecryptError::CipherSetup, 0);

    struct stat inputInfo
    {
    };
    CFileHandle input;
    if (job.fdInput < 0) {
        bool bNotRegular = false;
        input = OpenInput(job.strInputPath, inputInfo, bNotRegular);
        if (!input) {
            const int nError = errno;
            job.messages.ShowMessage(messages::FileNotFound(job.strInputPath), EMessageIcon::Default);
            return Failure(OpenFailure(nError, bNotRegular), nError);
        }
    } else if (::fstat(job.fdInput, &inputInfo) != 0) {
        return Failure(EDecryptError::OpenInput, errno);
    }
    const int fdInput = job.fdInput < 0 ? input.Get() : job.fdInput;
    if (job.onInputOpened)
        job.onInputOpened();
    if (job.fdOutput >= 0)
        return DecryptToDescriptor(job, fdInput, cipher,
                                   S_ISREG(inputInfo.st_mode) ? static_cast<std::uint64_t>(inputInfo.st_size)
                                                              : 0);
    std::unique_ptr<CAtomicOutputFile> pOutput;
    if (SDecryptOutcome opened = OpenOutput(job, inputInfo, pOutput); !opened.Succeeded())
        return opened;

    const auto nSizeAtOpen = static_cast<std::uint64_t>(inputInfo.st_size);
    // Only the verdict counts in a batch (a warning); the kind of content is for the check alone.
    CPlaintextSample sample(EPlausibilityDetail::Verdict);
    SDecryptOutcome outcome = DecryptStream(fdInput, *pOutput, cipher, nSizeAtOpen, job.pProgress, job.nJobs,
                                            m_bCheckPlaintext ? &sample : nullptr);
    if (!outcome.Succeeded()) {
        outcome.strOutputPath = job.strOutputPath;
        return outcome;
    }
    // The output is as long as what was read. Fewer bytes than the input had when it was opened means it was
    // cut short meanwhile; a growing input has been read to its end. Only a regular file has a size.
    if (S_ISREG(inputInfo.st_mode) && pOutput->BytesWritten() < nSizeAtOpen) {
        job.messages.ShowMessage(messages::InputShrank(job.strInputPath, job.strOutputPath),
                                 EMessageIcon::Stop);
        return Failure(EDecryptError::InputShrank, 0, job.strOutputPath);
    }
    SDecryptOutcome done{EDecryptError::None, 0, job.strOutputPath};
    if (m_bCheckPlaintext)
        done.plausibility = sample.Judge();
    if (job.pPendingOutput != nullptr) {
        // The caller commits in its own order, perhaps on another thread: the flush a replaced output needs
        // is done here, beside the decryption of the other files, and the commit only puts it in place.
        if (const int nError = pOutput->SyncBeforeReplace(); nError != 0)
            return Failure(EDecryptError::Write, nError, job.strOutputPath);
        *job.pPendingOutput = std::move(pOutput);
        return done;
    }
    if (const int nError = pOutput->Commit(); nError != 0)
        return Failure(EDecryptError::Write, nError, job.strOutputPath);
    return done;
}

SDecryptOutcome CFileDecryptor::DecryptToDescriptor(const SDecryptJob& job, int fdInput,
                                                    CTripleDesDecryptor& cipher, std::uint64_t nTotal) const
{
    CDescriptorOutput output(job.fdOutput);
    CPlaintextSample sample(EPlausibilityDetail::Verdict);
    SDecryptOutcome outcome = DecryptStream(fdInput, output, cipher, nTotal, job.pProgress, job.nJobs,
                                            m_bCheckPlaintext ? &sample : nullptr);
    outcome.strOutputPath = job.strOutputPath;
    if (outcome.Succeeded() && m_bCheckPlaintext)
        outcome.plausibility = sample.Judge();
    return outcome;
}

CFileHandle OpenInputFile(const std::string& strPath, struct stat& info, EDecryptError& failure)
{
    bool bNotRegular = false;
    CFileHandle file = OpenInput(strPath, info, bNotRegular);
    const int nError = errno;
    failure = file ? EDecryptError::None : OpenFailure(nError, bNotRegular);
    errno = nError;
    return file;
}

} // namespace brasko
