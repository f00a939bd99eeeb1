#include "AtomicOutputFile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace brasko {

namespace {

constexpr int kMaxLinkDepth = 40;
constexpr std::size_t kMaxTempStem = 200; // keeps the temporary name below NAME_MAX

std::string FolderOf(const std::string& strPath)
{
    const std::size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

// Follows symbolic links at strPath (not in its folders) to the path of the file they finally name,
// whether or not that exists. Empty with errno set for a loop or an unreadable link.
std::string FollowLinks(std::string strPath)
{
    for (int nDepth = 0; nDepth < kMaxLinkDepth; ++nDepth) {
        struct stat info
        {
        };
        if (::lstat(strPath.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return strPath;
        std::array<char, PATH_MAX> target{};
        const ssize_t n = ::readlink(strPath.c_str(), target.data(), target.size() - 1);
        if (n < 0)
            return {};
        std::string strTarget(target.data(), static_cast<std::size_t>(n));
        strPath =
            (!strTarget.empty() && strTarget.front() == '/') ? strTarget : FolderOf(strPath) + strTarget;
    }
    errno = ELOOP;
    return {};
}

std::string RandomSuffix()
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 2);
    std::string strSuffix(8, 'x');
    for (char& c : strSuffix)
        c = kAlphabet[pick(generator)];
    return strSuffix;
}

} // namespace

CAtomicOutputFile::CAtomicOutputFile(std::string strTargetPath) : m_strTargetPath(std::move(strTargetPath)) {}

CAtomicOutputFile::~CAtomicOutputFile()
{
    if (!m_bCommitted)
        Discard();
}

void CAtomicOutputFile::Discard()
{
    m_file.Close();
    if (!m_strTempPath.empty()) {
        ::unlink(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
}

int CAtomicOutputFile::Open()
{
    m_strResolvedPath = FollowLinks(m_strTargetPath);
    if (m_strResolvedPath.empty())
        return errno != 0 ? errno : EINVAL;

    struct stat info
    {
    };
    if (::stat(m_strResolvedPath.c_str(), &info) == 0) {
        // A rename must never replace a folder, a device or a pipe.
        if (S_ISDIR(info.st_mode))
            return EISDIR;
        if (!S_ISREG(info.st_mode))
            return EINVAL;
        // A read-only file stays as it is, even for a user (root) whom the permissions would not stop.
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(m_strResolvedPath.c_str(), W_OK) != 0)
            return EACCES;
        m_bTargetExists = true;
        m_nTargetMode = info.st_mode & 07777;
        m_nTargetUid = info.st_uid;
        m_nTargetGid = info.st_gid;
    } else if (errno != ENOENT) {
        return errno;
    }

    const std::string strFolder = FolderOf(m_strResolvedPath);
    std::string strStem = m_strResolvedPath.substr(strFolder.size());
    if (strStem.size() > kMaxTempStem)
        strStem.resize(kMaxTempStem);
    for (int nAttempt = 0; nAttempt < 100; ++nAttempt) {
        std::string strTemp = strFolder + "." + strStem + "." + RandomSuffix() + ".tmp";
        // 0666 lets the umask decide the permissions a newly created file gets.
        const int fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        m_file = CFileHandle(fd);
        m_strTempPath = std::move(strTemp);
        // Other writers that honour advisory locks keep off the file while it is written.
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(fd, F_SETLK, &lock);
        return 0;
    }
    return EEXIST;
}

int CAtomicOutputFile::Write(const void* pData, std::size_t nSize)
{
    if (!m_file)
        return EBADF;
    return WriteFully(m_file.Get(), pData, nSize) ? 0 : errno;
}

int CAtomicOutputFile::Commit()
{
    if (!m_file)
        return EBADF;
    const int fd = m_file.Get();
    if (m_bTargetExists) {
        // Keep the replaced file's owner and permissions, and make sure its new content is on disk
        // before the old content goes: a crash must not leave an empty file where a good one stood.
        if (::fchown(fd, m_nTargetUid, m_nTargetGid) != 0) {
            // Only root may give a file away; anyone else keeps their own ownership.
        }
        if (::fchmod(fd, m_nTargetMode) != 0)
            return errno;
        if (::fsync(fd) != 0)
            return errno;
    }
    if (!m_file.Close())
        return errno;
    if (::rename(m_strTempPath.c_str(), m_strResolvedPath.c_str()) != 0)
        return errno;
    m_strTempPath.clear();
    m_bCommitted = true;
    return 0;
}

} // namespace brasko
