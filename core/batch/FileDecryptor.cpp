#include "FileDecryptor.h"

#include "AtomicOutputFile.h"
#include "DecryptStream.h"
#include "FileHandle.h"
#include "Messages.h"
#include "TripleDes.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace brasko {

namespace {

std::string CurrentDirectory()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Opens the input for reading. Anything but a regular file counts as not openable (bNotRegular);
// O_NONBLOCK keeps the open of a pipe from waiting for a writer.
CFileHandle OpenInput(const std::string& strPath, struct stat& info, bool& bNotRegular)
{
    bNotRegular = false;
    CFileHandle file(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file)
        return file;
    if (::fstat(file.Get(), &info) != 0)
        return CFileHandle();
    if (!S_ISREG(info.st_mode)) {
        bNotRegular = true;
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return CFileHandle();
    }
    const int nFlags = ::fcntl(file.Get(), F_GETFL);
    if (nFlags < 0 || ::fcntl(file.Get(), F_SETFL, nFlags & ~O_NONBLOCK) != 0)
        return CFileHandle();
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

} // namespace

std::string AbsolutePath(const std::string& strPath)
{
    std::string strFull = strPath;
    if (strFull.empty() || strFull.front() != '/') {
        const std::string strCwd = CurrentDirectory();
        if (strCwd.empty())
            return {};
        strFull = strCwd + "/" + strFull;
    }
    // Fold "." and ".." and repeated separators lexically; links are not followed.
    std::vector<std::string> components;
    std::size_t nPos = 0;
    while (nPos <= strFull.size()) {
        std::size_t nNext = strFull.find('/', nPos);
        if (nNext == std::string::npos)
            nNext = strFull.size();
        std::string strPart = strFull.substr(nPos, nNext - nPos);
        if (strPart == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!strPart.empty() && strPart != ".") {
            components.push_back(std::move(strPart));
        }
        nPos = nNext + 1;
    }
    std::string strResult;
    for (const std::string& strPart : components)
        strResult += "/" + strPart;
    const bool bEndsInFolder = strFull.back() == '/' || strFull.ends_with("/.") || strFull.ends_with("/..");
    if (strResult.empty() || bEndsInFolder)
        strResult += "/";
    return strResult;
}

CFileDecryptor::CFileDecryptor(std::string strPrefix, std::string strSuffix, std::string strExtension)
    : m_strPrefix(std::move(strPrefix)), m_strSuffix(std::move(strSuffix)),
      m_strExtension(std::move(strExtension))
{}

std::string CFileDecryptor::BuildOutputPath(const std::string& strInputPath) const
{
    const std::string strFull = AbsolutePath(strInputPath);
    if (strFull.empty())
        return {};
    const std::size_t nNameStart = strFull.rfind('/') + 1;
    return strFull.substr(0, nNameStart) + BuildOutputName(strFull.substr(nNameStart));
}

std::string CFileDecryptor::BuildOutputName(const std::string& strName) const
{
    // The extension starts at the first dot of the name, unless that dot is its first character.
    std::string strBase = strName;
    std::string strExt;
    if (const std::size_t nDot = strName.find('.'); nDot != std::string::npos && nDot > 0) {
        strBase = strName.substr(0, nDot);
        strExt = strName.substr(nDot);
    }
    return m_strPrefix + strBase + m_strSuffix + strExt + m_strExtension;
}

int CFileDecryptor::DecryptFile(const std::string& strInputPath, const std::string& strPassword,
                                IMessageSink& messages, IProgressSink* pProgress, unsigned nJobs) const
{
    return DecryptFileWithOutcome(strInputPath, strPassword, messages, pProgress, nJobs).Succeeded() ? 0 : 1;
}

SDecryptOutcome CFileDecryptor::DecryptFileWithOutcome(const std::string& strInputPath,
                                                       const std::string& strPassword, IMessageSink& messages,
                                                       IProgressSink* pProgress, unsigned nJobs,
                                                       const InputOpenedFn& onInputOpened) const
{
    std::string strOutputPath;
    try {
        strOutputPath = BuildOutputPath(strInputPath);
    } catch (const std::bad_alloc&) {
        return Failure(EDecryptError::OutOfMemory, ENOMEM);
    }
    return DecryptFileTo(strInputPath, strOutputPath, strPassword, messages, pProgress, nJobs, onInputOpened);
}

SDecryptOutcome CFileDecryptor::DecryptFileTo(const std::string& strInputPath,
                                              const std::string& strOutputPath,
                                              const std::string& strPassword, IMessageSink& messages,
                                              IProgressSink* pProgress, unsigned nJobs,
                                              const InputOpenedFn& onInputOpened,
                                              std::unique_ptr<CAtomicOutputFile>* pPendingOutput) const
{
    try {
        return DecryptOneFile(strInputPath, strOutputPath, strPassword, messages, pProgress, nJobs,
                              onInputOpened, pPendingOutput);
    } catch (const std::bad_alloc&) {
        return Failure(EDecryptError::OutOfMemory, ENOMEM, strOutputPath);
    } catch (const std::system_error& error) {
        return Failure(EDecryptError::Write, error.code().value(), strOutputPath);
    }
}

SDecryptOutcome CFileDecryptor::DecryptOneFile(const std::string& strInputPath,
                                               const std::string& strOutputPath,
                                               const std::string& strPassword, IMessageSink& messages,
                                               IProgressSink* pProgress, unsigned nJobs,
                                               const InputOpenedFn& onInputOpened,
                                               std::unique_ptr<CAtomicOutputFile>* pPendingOutput) const
{
    CTripleDesDecryptor cipher;
    {
        const CTripleDesKey key = DeriveKey(strPassword);
        if (!cipher.Init(key))
            return Failure(EDecryptError::CipherSetup, 0);
    }

    struct stat inputInfo
    {
    };
    bool bNotRegular = false;
    CFileHandle input = OpenInput(strInputPath, inputInfo, bNotRegular);
    if (!input) {
        const int nError = errno;
        messages.ShowMessage(messages::FileNotFound(strInputPath), EMessageIcon::Default);
        return Failure(OpenFailure(nError, bNotRegular), nError);
    }

    if (onInputOpened)
        onInputOpened();

    if (strOutputPath.empty())
        return Failure(EDecryptError::CreateOutput, ENOENT); // the current folder is gone
    // Writing over the input would destroy it before it is read.
    if (NamesFile(strOutputPath, inputInfo))
        return Failure(EDecryptError::OutputIsInput, 0, strOutputPath);

    // The output is never readable by more users than the input. Its owner may always write it, so that a
    // read-only input (an archive) does not give an output that the next run could not replace.
    auto pOutput = std::make_unique<CAtomicOutputFile>(strOutputPath, (inputInfo.st_mode & 0777) | S_IWUSR);
    CAtomicOutputFile& output = *pOutput;
    if (const int nError = output.Open(); nError != 0) {
        if (const EOutputRefusal refusal = output.Refusal(); refusal != EOutputRefusal::None) {
            messages.ShowMessage(RefusalMessage(refusal, strInputPath, strOutputPath), EMessageIcon::Stop);
            return Failure(EDecryptError::OutputRefused, nError, strOutputPath);
        }
        return Failure(EDecryptError::CreateOutput, nError, strOutputPath);
    }

    const auto nSizeAtOpen = static_cast<std::uint64_t>(inputInfo.st_size);
    CPlaintextSample sample;
    SDecryptOutcome outcome = DecryptStream(input.Get(), output, cipher, nSizeAtOpen, pProgress, nJobs,
                                            m_bCheckPlaintext ? &sample : nullptr);
    if (!outcome.Succeeded()) {
        outcome.strOutputPath = strOutputPath;
        return outcome;
    }
    // The output is as long as what was read. Fewer bytes than the input had when it was opened means it was
    // cut short meanwhile; a growing input has been read to its end.
    if (output.BytesWritten() < nSizeAtOpen) {
        messages.ShowMessage(messages::InputShrank(strInputPath, strOutputPath), EMessageIcon::Stop);
        return Failure(EDecryptError::InputShrank, 0, strOutputPath);
    }
    SDecryptOutcome done{EDecryptError::None, 0, strOutputPath};
    if (m_bCheckPlaintext)
        done.plausibility = JudgePlaintext(sample.Bytes());
    if (pPendingOutput != nullptr) {
        *pPendingOutput = std::move(pOutput);
        return done;
    }
    if (const int nError = output.Commit(); nError != 0)
        return Failure(EDecryptError::Write, nError, strOutputPath);
    return done;
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
