#include "AtomicOutputFile.h"

#include "ExtendedAttributes.h"
#include "PathResolver.h"
#include "TemporaryName.h"

#include <array>
#include <atomic>
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

// The umask, read without changing it: umask() would have to set it for a moment, and a thread creating a
// file meanwhile would get the wrong permissions. Unknown, it counts as the narrowest.
mode_t ReadProcessUmask()
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

// The umask, read once: the program does not change it while it runs.
mode_t ProcessUmask()
{
    static const mode_t nUmask = ReadProcessUmask();
    return nUmask;
}

} // namespace

CAtomicOutputFile::CAtomicOutputFile(std::string strTargetPath, SOutputSource source,
                                     ETemporaryFile temporary, int fdStart, ETargetName targetName)
    : m_strTargetPath(std::move(strTargetPath)), m_source(source), m_temporary(temporary), m_fdStart(fdStart),
      m_targetName(targetName)
{
    m_source.nMode &= 0777;
}

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
    // Other writers that honour advisory locks keep off a named file while it is written; a file without a
    // name has no other writer.
    if (!m_bUnnamed) {
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(m_file.Get(), F_SETLK, &lock);
    }

    // A run killed between link and rename leaves a named temporary file beside the output it replaced; where
    // every temporary file has a name, beside any output.
    if (m_existing || !m_bUnnamed)
        RemoveStaleTemporaries(m_folder.Get(), m_strName);
    if (const int nError = ShapeTemporary(); nError != 0) {
        Discard();
        return nError;
    }
    return 0;
}

// Gives the new file its group and works out its final permissions; a replaced file of the caller's passes
// its permissions and extended attributes on, anything else nothing.
int CAtomicOutputFile::ShapeTemporary()
{
    const int fd = m_file.Get();
    if (::fstat(fd, &m_created) != 0)
        return errno;
    unsigned nMode = 0;
    if (m_bOwnExisting) {
        if (const int nError = CarryAttributesOver(m_existing.Get(), m_folder.Get(), m_strName, fd);
            nError != 0)
            return nError;
        nMode = m_nExistingMode;
    } else if (m_bUnnamed) {
        // Created with 0666, it has what the kernel gives a new file: the umask or the folder's default ACL.
        nMode = m_created.st_mode & 0777;
    } else {
        // Where the folder has a default ACL, that ACL rather than the umask shapes a new file.
        nMode = HasAccessAcl(fd) ? 0666U : 0666U & ~ProcessUmask();
    }
    nMode &= m_source.nMode;
    if (m_source.group && m_created.st_gid != *m_source.group) {
        // A setgid folder hands its group down; it is kept only when the input has it too, as it would let
        // the folder's members read what only the input's group could. A group that is not the input's gets
        // no permissions.
        gid_t nGroup = m_created.st_gid;
        if (const gid_t nOwnGroup = ::getegid();
            nGroup != nOwnGroup && ::fchown(fd, static_cast<uid_t>(-1), nOwnGroup) == 0)
            nGroup = nOwnGroup;
        if (nGroup != *m_source.group)
            nMode &= ~static_cast<unsigned>(S_IRWXG);
    }
    m_nFinalMode = nMode;
    return 0;
}

int CAtomicOutputFile::ResolveTarget()
{
    auto [strFolder, strName] = SplitPath(m_strTargetPath);
    if (!IsPlainName(strName))
        return EISDIR;
    SResolvedPath resolved;
    if (m_targetName == ETargetName::SeenFree) {
        // The folder by the link rule, as for any target (a bare name: the start folder itself, where the
        // walk would begin); the name is taken as free.
        if (strFolder == ".") {
            m_folder = CFileHandle(::openat(m_fdStart, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!m_folder)
                return errno;
        } else if (const int nError = ResolvePath(m_fdStart, strFolder, true, resolved); nError != 0) {
            return nError;
        } else {
            m_folder = std::move(resolved.folder);
        }
        m_strName = std::move(strName);
        return 0;
    }
    const int nError = ResolvePath(m_fdStart, m_strTargetPath, true, resolved);
    if (nError != 0 || !resolved.entry) {
        // No file is ever created through a link: the link's target must exist.
        if (resolved.bForeignLink)
            m_refusal = EOutputRefusal::ForeignLink;
        else if (resolved.bThroughLink && (nError == 0 || nError == ENOENT))
            m_refusal = EOutputRefusal::DanglingLink;
        if (nError != 0 || m_refusal != EOutputRefusal::None)
            return nError != 0 ? nError : ENOENT;
    }
    m_folder = std::move(resolved.folder);
    m_strName = std::move(resolved.strName);
    if (!resolved.entry)
        return 0;
    return TakeExisting(std::move(resolved.entry), resolved.info, resolved.folderInfo);
}

// The file that is there already, to be replaced if it may be.
int CAtomicOutputFile::TakeExisting(CFileHandle entry, const struct stat& info, const struct stat& folderInfo)
{
    if (m_source.nInode != 0 && info.st_dev == m_source.nDevice && info.st_ino == m_source.nInode) {
        m_refusal = EOutputRefusal::Input; // writing over it would destroy it before it is read
        return EEXIST;
    }
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
    m_nExistingMode = info.st_mode & 0777;
    // Another user's file could carry an ACL entry or a mode that lets them read the new content.
    m_bOwnExisting = info.st_uid == ::geteuid();
    return 0;
}

int CAtomicOutputFile::CreateTemporary()
{
    if (m_temporary == ETemporaryFile::Unnamed) {
        // No other user can open a file without a name, so it is made like any new file: the kernel applies
        // the umask or the folder's default ACL, and ShapeTemporary() reads the result.
        const int fd = ::openat(m_folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
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
    // A new file mostly has its permissions already; attributes carried over (an ACL) may have changed them.
    if ((m_bOwnExisting || (m_created.st_mode & 07777) != m_nFinalMode) && ::fchmod(fd, m_nFinalMode) != 0)
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
    // AT_EMPTY_PATH links the descriptor itself. Before Linux 6.10 it needs CAP_DAC_READ_SEARCH, and the
    // kernel answers ENOENT without it; the path through /proc works for every user. Once the process has
    // needed that path, it takes it straight away.
    static std::atomic<bool> bEmptyPathRefused{false};
    if (!bEmptyPathRefused.load(std::memory_order_relaxed)) {
        if (::linkat(m_file.Get(), "", m_folder.Get(), strName.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
    }
    if (::linkat(AT_FDCWD, DescriptorPath(m_file.Get()).c_str(), m_folder.Get(), strName.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        return errno;
    bEmptyPathRefused.store(true, std::memory_order_relaxed);
    return 0;
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
    if (const int nError = LinkUnder(m_strName); nError != 0)
        return nError;
    if (!m_file.Close()) {
        const int nError = errno;
        struct stat linked
        {
        };
        if (::fstatat(fdFolder, m_strName.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(m_created, linked))
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
