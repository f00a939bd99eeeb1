#include "FileDecryptor.h"

#include "AtomicOutputFile.h"
#include "DecryptStream.h"
#include "FileHandle.h"
#include "Messages.h"
#include "OutputTemplate.h"
#include "PathResolver.h"
#include "TripleDes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unistd.h>

namespace brasko {

namespace {

// File systems whose files are the kernel's views rather than stored bytes: a read of one may wait for
// good (/proc/kmsg), change with every read, or have side effects.
bool IsPseudoFileSystem(int fd)
{
    struct statfs info
    {
    };
    if (::fstatfs(fd, &info) != 0)
        return false;
    static constexpr std::array<unsigned long, 20> kPseudo = {
        PROC_SUPER_MAGIC, SYSFS_MAGIC,    DEBUGFS_MAGIC,       TRACEFS_MAGIC,         SECURITYFS_MAGIC,
        SELINUX_MAGIC,    SMACK_MAGIC,    CGROUP_SUPER_MAGIC,  CGROUP2_SUPER_MAGIC,   BPF_FS_MAGIC,
        PSTOREFS_MAGIC,   EFIVARFS_MAGIC, DEVPTS_SUPER_MAGIC,  BINFMTFS_MAGIC,        NSFS_MAGIC,
        PIPEFS_MAGIC,     SOCKFS_MAGIC,   ANON_INODE_FS_MAGIC, USBDEVICE_SUPER_MAGIC,
        0x62656570, // configfs
    };
    const auto nType = static_cast<unsigned long>(info.f_type);
    return std::find(kPseudo.begin(), kPseudo.end(), nType) != kPseudo.end();
}

constexpr int kInputFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// CheckInputDescriptor for a descriptor opened with kInputFlags: O_NONBLOCK is the only flag F_SETFL changes
// that it carries, and a device already found in cache to store files is not asked again (a device number
// belongs to one file system: a file of /proc never has that of a disk).
EDecryptError CheckOpenedInput(int fd, struct stat& info, SInputCache& cache)
{
    if (::fstat(fd, &info) != 0)
        return EDecryptError::OpenInput;
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return EDecryptError::InputNotRegular;
    }
    if (!cache.bStoringDevice || cache.nStoringDevice != info.st_dev) {
        if (IsPseudoFileSystem(fd)) {
            errno = EINVAL;
            return EDecryptError::InputOnPseudoFileSystem;
        }
        cache.nStoringDevice = info.st_dev;
        cache.bStoringDevice = true;
    }
    if (::fcntl(fd, F_SETFL, 0) != 0)
        return EDecryptError::OpenInput;
    return EDecryptError::None;
}

// Opens the input for reading: the one place every input is opened, its path found by the link rule of
// ResolvePath (nWalkedTail as there) through cache's CFileOpener. fdFolder receives the folder the input's
// name stands in, valid while cache is not used again. O_NONBLOCK keeps the open of a pipe from waiting for a
// writer; CheckOpenedInput refuses what is not a regular file on a real file system and clears it again.
CFileHandle OpenInput(const std::string& strPath, struct stat& info, EDecryptError& failure,
                      SInputCache& cache, std::size_t nWalkedTail, int& fdFolder)
{
    failure = EDecryptError::None;
    CFileHandle file = cache.opener.Open(strPath, kInputFlags, nWalkedTail, fdFolder);
    if (!file) {
        failure =
            errno == ENOENT || errno == ENOTDIR ? EDecryptError::InputMissing : EDecryptError::OpenInput;
        return file;
    }
    failure = CheckOpenedInput(file.Get(), info, cache);
    if (failure != EDecryptError::None)
        return {};
    return file;
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
    case EOutputRefusal::Input:
    case EOutputRefusal::None:
        break;
    }
    return messages::OutputIsForeignFile(strPath, strOutputPath);
}

SDecryptOutcome Failure(EDecryptError error, int nSystemError, std::string strOutputPath = {})
{
    return SDecryptOutcome{error, nSystemError, std::move(strOutputPath)};
}

// Checks the output path of an input that is open and creates the output's temporary file.
SDecryptOutcome OpenOutput(const SDecryptJob& job, const struct stat& inputInfo, int fdInputFolder,
                           std::unique_ptr<CAtomicOutputFile>& pOutput)
{
    if (job.strOutputPath.empty())
        return Failure(EDecryptError::CreateOutput, ENOENT); // the current folder is gone
    const int fdFolder = job.fdOutputFolder >= 0  ? job.fdOutputFolder
                         : job.bOutputBesideInput ? fdInputFolder
                                                  : -1;
    const std::string strTarget =
        fdFolder >= 0 ? job.strOutputPath.substr(job.strOutputPath.rfind('/') + 1) : job.strOutputPath;
    const int fdStart = fdFolder >= 0 ? fdFolder : AT_FDCWD;
    // The output is never readable by more users than the input. Its owner may always write it, so that a
    // read-only input (an archive) does not give an output that the next run could not replace.
    const SOutputSource source{.nMode = (inputInfo.st_mode & 0777) | S_IWUSR,
                               .group = inputInfo.st_gid,
                               .nDevice = inputInfo.st_dev,
                               .nInode = inputInfo.st_ino};
    pOutput = std::make_unique<CAtomicOutputFile>(strTarget, source, ETemporaryFile::Unnamed, fdStart,
                                                  job.bOutputNameFree ? ETargetName::SeenFree
                                                                      : ETargetName::LookFirst);
    if (const int nError = pOutput->Open(); nError != 0) {
        const EOutputRefusal refusal = pOutput->Refusal();
        if (refusal == EOutputRefusal::Input)
            return Failure(EDecryptError::OutputIsInput, 0, job.strOutputPath);
        if (refusal != EOutputRefusal::None) {
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
                              .nJobs = nJobs,
                              .bOutputBesideInput = true};
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
    int fdInputFolder = -1;
    SInputCache ownCache;
    if (job.fdInput < 0) {
        EDecryptError failure = EDecryptError::None;
        input = OpenInput(job.strInputPath, inputInfo, failure,
                          job.pInputCache != nullptr ? *job.pInputCache : ownCache, job.nInputWalked,
                          fdInputFolder);
        if (!input) {
            const int nError = errno;
            job.messages.ShowMessage(messages::FileNotFound(job.strInputPath), EMessageIcon::Default);
            return Failure(failure, nError);
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
    if (SDecryptOutcome opened = OpenOutput(job, inputInfo, fdInputFolder, pOutput); !opened.Succeeded())
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

EDecryptError CheckInputDescriptor(int fd, struct stat& info)
{
    if (::fstat(fd, &info) != 0)
        return EDecryptError::OpenInput;
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return EDecryptError::InputNotRegular;
    }
    if (IsPseudoFileSystem(fd)) {
        errno = EINVAL;
        return EDecryptError::InputOnPseudoFileSystem;
    }
    const int nFlags = ::fcntl(fd, F_GETFL);
    if (nFlags < 0 || ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK) != 0)
        return EDecryptError::OpenInput;
    return EDecryptError::None;
}

CFileHandle OpenInputFile(const std::string& strPath, struct stat& info, EDecryptError& failure)
{
    SInputCache cache;
    int fdFolder = -1;
    return OpenInput(strPath, info, failure, cache, 0, fdFolder);
}

} // namespace brasko
