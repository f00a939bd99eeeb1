#include "AtomicOutputFile.h"

#include "ExtendedAttributes.h"
#include "TemporaryName.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brasko {

namespace {

constexpr int kNameAttempts = 100;

// The folder part (with its "/", or "." for a bare name) and the name of a path.
std::pair<std::string, std::string> SplitPath(const std::string& strPath)
{
    const std::size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos)
        return {".", strPath};
    return {strPath.substr(0, nSlash + 1), strPath.substr(nSlash + 1)};
}

bool IsPlainName(const std::string& strName)
{
    return !strName.empty() && strName != "." && strName != "..";
}

std::string DescriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

std::string ReadLink(int fdFolder, const std::string& strPath)
{
    std::array<char, PATH_MAX> buffer{};
    const ssize_t n = ::readlinkat(fdFolder, strPath.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        return {};
    return {buffer.data(), static_cast<std::size_t>(n)};
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Sticky and writable for everyone, like /tmp: there the kernel guards the links and files of each user
// against the others (fs.protected_symlinks, fs.protected_regular).
bool IsSharedFolder(const struct stat& folder)
{
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// Whether a link or file of this owner in the folder was put there by someone the caller trusts: the caller
// or the folder's owner, who could replace it anyway. File access on Linux goes by the file-system uid, which
// follows the effective uid.
bool IsTrustedOwner(const struct stat& folder, uid_t nOwner)
{
    return nOwner == ::geteuid() || nOwner == folder.st_uid;
}

// The umask, read without changing it: umask() would have to set it for a moment, and a thread creating a
// file meanwhile would get the wrong permissions. Unknown, it counts as the narrowest.
mode_t ProcessUmask()
{
    std::FILE* pStatus = std::fopen("/proc/self/status", "re");
    if (pStatus == nullptr)
        return 077;
    mode_t nUmask = 077;
    std::array<char, 256> line{};
    while (std::fgets(line.data(), line.size(), pStatus) != nullptr) {
        if (std::string_view(line.data()).starts_with("Umask:")) {
            nUmask = static_cast<mode_t>(std::strtoul(line.data() + 6, nullptr, 8)) & 0777;
            break;
        }
    }
    std::fclose(pStatus);
    return nUmask;
}

} // namespace

CAtomicOutputFile::CAtomicOutputFile(std::string strTargetPath, unsigned nPermissionLimit,
                                     ETemporaryFile temporary)
    : m_strTargetPath(std::move(strTargetPath)), m_nPermissionLimit(nPermissionLimit & 0777),
      m_temporary(temporary)
{}

CAtomicOutputFile::~CAtomicOutputFile()
{
    if (!m_bCommitted)
        Discard();
}

void CAtomicOutputFile::Discard()
{
    m_file.Close();
    if (!m_strTempName.empty()) {
        ::unlinkat(m_folder.Get(), m_strTempName.c_str(), 0);
        m_strTempName.clear();
    }
}

int CAtomicOutputFile::Open()
{
    if (const int nError = ResolveTarget(); nError != 0)
        return nError;
    if (const int nError = CreateTemporary(); nError != 0)
        return nError;
    // Other writers that honour advisory locks keep off the file while it is written.
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ::fcntl(m_file.Get(), F_SETLK, &lock);

    if (!m_existing) {
        // Where the folder has a default ACL, that ACL rather than the umask shapes a new file.
        const bool bDefaultAcl = HasAccessAcl(m_file.Get());
        m_nFinalMode = (bDefaultAcl ? 0666U : 0666U & ~ProcessUmask()) & m_nPermissionLimit;
        return 0;
    }
    if (const int nError = CarryAttributesOver(m_existing.Get(), m_folder.Get(), m_strName, m_file.Get());
        nError != 0) {
        Discard();
        return nError;
    }
    return 0;
}

int CAtomicOutputFile::ResolveTarget()
{
    auto [strFolder, strName] = SplitPath(m_strTargetPath);
    if (!IsPlainName(strName))
        return EISDIR;
    m_strName = std::move(strName);
    m_folder = CFileHandle(::open(strFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat folderInfo
    {
    };
    if (!m_folder || ::fstat(m_folder.Get(), &folderInfo) != 0)
        return errno;

    CFileHandle entry(::openat(m_folder.Get(), m_strName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!entry)
        return errno == ENOENT ? 0 : errno;
    struct stat info
    {
    };
    if (::fstat(entry.Get(), &info) != 0)
        return errno;
    if (S_ISLNK(info.st_mode)) {
        if (const int nError = FollowLink(entry, info, folderInfo); nError != 0)
            return nError;
    }
    return TakeExisting(std::move(entry), info, folderInfo);
}

// The target is a link: entry and info become the file it names, and where that is a regular file,
// m_folder, m_strName and folderInfo its folder and name.
int CAtomicOutputFile::FollowLink(CFileHandle& entry, struct stat& info, struct stat& folderInfo)
{
    // Followed only where the kernel's fs.protected_symlinks would follow it for an open.
    if (IsSharedFolder(folderInfo) && !IsTrustedOwner(folderInfo, info.st_uid)) {
        m_refusal = EOutputRefusal::ForeignLink;
        return EACCES;
    }
    // The kernel follows the link, with whatever protection it applies itself.
    entry = CFileHandle(::openat(m_folder.Get(), m_strName.c_str(), O_PATH | O_CLOEXEC));
    if (!entry) {
        if (errno != ENOENT)
            return errno;
        m_refusal = EOutputRefusal::DanglingLink;
        return ENOENT;
    }
    if (::fstat(entry.Get(), &info) != 0)
        return errno;
    if (S_ISREG(info.st_mode)) {
        if (const int nError = EnterLinkTarget(entry.Get(), info); nError != 0)
            return nError;
        if (::fstat(m_folder.Get(), &folderInfo) != 0)
            return errno;
    }
    return 0;
}

// The file that is there already, to be replaced if it may be.
int CAtomicOutputFile::TakeExisting(CFileHandle entry, const struct stat& info, const struct stat& folderInfo)
{
    // A rename must never replace a folder, a device or a pipe.
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    if (IsSharedFolder(folderInfo) && !IsTrustedOwner(folderInfo, info.st_uid)) {
        m_refusal = EOutputRefusal::ForeignFile;
        return EACCES;
    }
    // A read-only file stays as it is, even for a user (root) whom the permissions would not stop.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
        ::faccessat(m_folder.Get(), m_strName.c_str(), W_OK, AT_EACCESS) != 0)
        return EACCES;
    m_existing = std::move(entry);
    m_nFinalMode = info.st_mode & 0777 & m_nPermissionLimit;
    // Never give the content away: only an owner who could replace the file anyway keeps it.
    m_bKeepOwner = IsTrustedOwner(folderInfo, info.st_uid);
    m_nTargetUid = info.st_uid;
    m_nTargetGid = info.st_gid;
    return 0;
}

// Moves m_folder and m_strName from a link to the file it names, which the kernel has resolved. The file's
// path as /proc shows it, or else the link's own text, gives a folder and a name; they count only when that
// name in that folder is still the very file the kernel opened.
int CAtomicOutputFile::EnterLinkTarget(int fdTarget, const struct stat& target)
{
    for (const std::string& strCandidate :
         {ReadLink(AT_FDCWD, DescriptorPath(fdTarget)), ReadLink(m_folder.Get(), m_strName)}) {
        auto [strFolder, strName] = SplitPath(strCandidate);
        if (!IsPlainName(strName))
            continue;
        CFileHandle folder(::openat(m_folder.Get(), strFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat info
        {
        };
        if (folder && ::fstatat(folder.Get(), strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && SameFile(info, target)) {
            m_folder = std::move(folder);
            m_strName = std::move(strName);
            return 0;
        }
    }
    return ELOOP;
}

int CAtomicOutputFile::CreateTemporary()
{
    if (m_temporary == ETemporaryFile::Unnamed) {
        const int fd = ::openat(m_folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_file = CFileHandle(fd);
            m_bUnnamed = true;
            return 0;
        }
        // A file system without O_TMPFILE says EOPNOTSUPP; kernels before 3.11 take it for O_DIRECTORY.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    for (int nAttempt = 0; nAttempt < kNameAttempts; ++nAttempt) {
        std::string strTemp = MakeTemporaryName(m_strName);
        const int fd = ::openat(m_folder.Get(), strTemp.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        m_file = CFileHandle(fd);
        m_strTempName = std::move(strTemp);
        return 0;
    }
    return EEXIST;
}

int CAtomicOutputFile::Write(const void* pData, std::size_t nSize)
{
    if (!m_file)
        return EBADF;
    if (!WriteFully(m_file.Get(), pData, nSize))
        return errno;
    m_nBytesWritten += nSize;
    return 0;
}

int CAtomicOutputFile::Commit()
{
    if (!m_file)
        return EBADF;
    const int fd = m_file.Get();
    if (m_bKeepOwner && ::fchown(fd, m_nTargetUid, m_nTargetGid) != 0) {
        // Only root may give a file away; anyone else keeps their own ownership.
    }
    if (::fchmod(fd, m_nFinalMode) != 0)
        return errno;
    // Make sure the new content is on disk before the old content goes: a crash must not leave an empty
    // file where a good one stood.
    if (m_existing && !m_bSynced && ::fsync(fd) != 0)
        return errno;
    if (const int nError = PutInPlace(); nError != 0) {
        Discard();
        return nError;
    }
    m_bCommitted = true;
    return 0;
}

int CAtomicOutputFile::SyncBeforeReplace()
{
    if (!m_file)
        return EBADF;
    if (!m_existing || m_bSynced)
        return 0;
    if (::fsync(m_file.Get()) != 0)
        return errno;
    m_bSynced = true;
    return 0;
}

int CAtomicOutputFile::LinkUnder(const std::string& strName)
{
    // The /proc path works for every user; AT_EMPTY_PATH needed CAP_DAC_READ_SEARCH before Linux 6.10.
    if (::linkat(AT_FDCWD, DescriptorPath(m_file.Get()).c_str(), m_folder.Get(), strName.c_str(),
                 AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return errno;
    return ::linkat(m_file.Get(), "", m_folder.Get(), strName.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

int CAtomicOutputFile::PutInPlace()
{
    if (m_bUnnamed && !m_existing)
        return LinkNewFile();
    if (m_bUnnamed) {
        int nError = EEXIST;
        for (int nAttempt = 0; nAttempt < kNameAttempts && nError == EEXIST; ++nAttempt) {
            std::string strTemp = MakeTemporaryName(m_strName);
            nError = LinkUnder(strTemp);
            if (nError == 0)
                m_strTempName = std::move(strTemp);
        }
        if (nError != 0)
            return nError;
    }
    // Errors that a file system reports only at close (NFS) come before the file takes the target's place.
    if (!m_file.Close())
        return errno;
    if (const int nError = RenameOverTarget(); nError != 0)
        return nError;
    m_strTempName.clear();
    return 0;
}

// An unnamed new file takes its name only while the name is free: whatever appeared there since Open() was
// never checked.
int CAtomicOutputFile::LinkNewFile()
{
    const int fdFolder = m_folder.Get();
    struct stat info
    {
    };
    if (::fstat(m_file.Get(), &info) != 0)
        return errno;
    if (const int nError = LinkUnder(m_strName); nError != 0)
        return nError;
    if (!m_file.Close()) {
        const int nError = errno;
        struct stat linked
        {
        };
        if (::fstatat(fdFolder, m_strName.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(info, linked))
            ::unlinkat(fdFolder, m_strName.c_str(), 0);
        return nError;
    }
    return 0;
}

// Renames the named temporary file to the target: over the file it replaces, or where the name is free.
int CAtomicOutputFile::RenameOverTarget()
{
    const int fdFolder = m_folder.Get();
    if (m_existing)
        return ::renameat(fdFolder, m_strTempName.c_str(), fdFolder, m_strName.c_str()) == 0 ? 0 : errno;
    if (::renameat2(fdFolder, m_strTempName.c_str(), fdFolder, m_strName.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    // A file system without RENAME_NOREPLACE: a hard link does not replace either; one without hard
    // links gets a plain rename while the name is still free.
    if (::linkat(fdFolder, m_strTempName.c_str(), fdFolder, m_strName.c_str(), 0) == 0) {
        ::unlinkat(fdFolder, m_strTempName.c_str(), 0);
        return 0;
    }
    struct stat info
    {
    };
    if (errno == EEXIST || ::fstatat(fdFolder, m_strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fdFolder, m_strTempName.c_str(), fdFolder, m_strName.c_str()) == 0 ? 0 : errno;
}

} // namespace brasko
