#include "PathResolver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

// The walk opens every name with O_PATH|O_NOFOLLOW itself rather than asking openat2() to resolve the whole
// path: the rule needs the owner of each link and the mode and owner of the folder it stands in, which
// openat2() does not report, and RESOLVE_NO_SYMLINKS would stop at the first link anyway. One name per call
// also lifts PATH_MAX, so that very deep trees stay reachable, and works on kernels and sandboxes without
// openat2().

namespace brasko {

namespace {

constexpr int kMaxLinks = 40; // as the kernel's own limit for one lookup

bool StatOf(int fd, struct stat& info)
{
    return ::fstat(fd, &info) == 0;
}

// The text of the link that fdLink (O_PATH|O_NOFOLLOW) stands for; empty with errno set when it has none.
std::string LinkText(int fdLink, const struct stat& info)
{
    std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
    for (;;) {
        const ssize_t n = ::readlinkat(fdLink, "", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return {buffer.data(), static_cast<std::size_t>(n)};
        buffer.resize(buffer.size() * 2); // the link grew meanwhile
    }
}

// A walk in progress: the folder reached so far and the names still to go.
class CWalk
{
public:
    CWalk(int fdStart, std::string_view strPath, bool bFollowLast, std::size_t nWalkedTail,
          SResolvedPath& result)
        : m_fdStart(fdStart), m_strRest(strPath), m_bFollowLast(bFollowLast),
          m_nWalkedTail(std::min(nWalkedTail, strPath.size())), m_result(result)
    {}

    int Run()
    {
        if (m_strRest.empty())
            return ENOENT;
        if (const int nError = StartAt(m_strRest.front() == '/'); nError != 0)
            return nError;
        for (;;) {
            SkipSlashes();
            if (m_nPos == m_strRest.size())
                return NamesFolder();
            const bool bWalked = m_strRest.size() - m_nPos <= m_nWalkedTail;
            const std::size_t nEnd = std::min(m_strRest.find('/', m_nPos), m_strRest.size());
            std::string strName = m_strRest.substr(m_nPos, nEnd - m_nPos);
            m_nPos = nEnd;
            const bool bTrailingSlash = m_nPos < m_strRest.size();
            SkipSlashes();
            const bool bLast = m_nPos == m_strRest.size();
            if (strName == ".")
                continue;
            if (strName == "..") {
                if (const int nError =
                        Enter(CFileHandle(::openat(m_folder.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC)));
                    nError != 0)
                    return nError;
                continue;
            }
            if (const int nError = Step(std::move(strName), bLast, bTrailingSlash, bWalked); nError != 0)
                return nError == kDone ? 0 : nError;
        }
    }

private:
    static constexpr int kDone = -1;

    int StartAt(bool bRoot)
    {
        return Enter(CFileHandle(
            ::openat(bRoot ? AT_FDCWD : m_fdStart, bRoot ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC)));
    }

    int Enter(CFileHandle folder)
    {
        if (!folder)
            return errno;
        m_folder = std::move(folder);
        m_bFolderInfo = false;
        return 0;
    }

    // The current folder's mode and owner, looked up only where a link or the end of the walk needs them.
    int LookAtFolder()
    {
        if (!m_bFolderInfo && !StatOf(m_folder.Get(), m_folderInfo))
            return errno;
        m_bFolderInfo = true;
        return 0;
    }

    void SkipSlashes()
    {
        while (m_nPos < m_strRest.size() && m_strRest[m_nPos] == '/')
            ++m_nPos;
    }

    // The path ends in a folder ("/", ".", "..", a trailing slash): the result is that folder itself.
    int NamesFolder()
    {
        m_result.entry = CFileHandle(::fcntl(m_folder.Get(), F_DUPFD_CLOEXEC, 0));
        if (!m_result.entry)
            return errno;
        m_result.strName.assign(1, '.'); // (= "." trips a false -Wrestrict of GCC 12)
        if (const int nError = Finish(); nError != 0)
            return nError;
        m_result.info = m_result.folderInfo;
        return 0;
    }

    int Finish()
    {
        if (const int nError = LookAtFolder(); nError != 0)
            return nError;
        m_result.folder = std::move(m_folder);
        m_result.folderInfo = m_folderInfo;
        return 0;
    }

    // One name in the current folder: descends into a folder, follows a link by the rule, or ends the walk
    // (kDone) at the last name.
    int Step(std::string strName, bool bLast, bool bTrailingSlash, bool bWalked)
    {
        const bool bEnd = bLast && !bTrailingSlash; // the last name, not required to be a folder
        if (!bEnd) {
            // Mostly a folder, entered without a look at it; ENOTDIR for a link (O_PATH opens the link
            // itself).
            CFileHandle folder(
                ::openat(m_folder.Get(), strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (folder)
                return Enter(std::move(folder));
            if (errno != ENOTDIR)
                return errno;
        }
        CFileHandle entry(::openat(m_folder.Get(), strName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info
        {
        };
        if (!entry) {
            if (errno != ENOENT || !bEnd)
                return errno;
            m_result.strName = std::move(strName);
            return Finish() == 0 ? kDone : errno;
        }
        if (!StatOf(entry.Get(), info))
            return errno;
        // A folder that the walk found as a folder and that is a link now was swapped since.
        if (S_ISLNK(info.st_mode) && !bEnd && bWalked)
            return ELOOP;
        if (S_ISLNK(info.st_mode) && (!bEnd || m_bFollowLast))
            return FollowLink(std::move(entry), info, std::move(strName), bEnd, bTrailingSlash);
        if (bEnd) {
            m_result.strName = std::move(strName);
            m_result.entry = std::move(entry);
            m_result.info = info;
            return Finish() == 0 ? kDone : errno;
        }
        if (!S_ISDIR(info.st_mode))
            return ENOTDIR;
        return Enter(std::move(entry)); // a link swapped for a folder meanwhile
    }

    // Puts the link's text in front of the names still to go, where the rule lets the link be followed.
    int FollowLink(CFileHandle link, const struct stat& info, std::string strName, bool bEnd,
                   bool bTrailingSlash)
    {
        if (const int nError = LookAtFolder(); nError != 0)
            return nError;
        if (IsGuardedFolder(m_folderInfo) && !IsTrustedOwner(m_folderInfo, info.st_uid)) {
            m_result.bForeignLink = true;
            m_result.strName = std::move(strName);
            m_result.entry = std::move(link);
            m_result.info = info;
            Finish();
            return EACCES;
        }
        if (++m_nLinks > kMaxLinks)
            return ELOOP;
        std::string strText = LinkText(link.Get(), info);
        if (strText.empty())
            return errno != 0 ? errno : ENOENT;
        if (bEnd) {
            m_result.bThroughLink = true;
            m_nWalkedTail = 0; // the names that follow come from the link
        }
        if (!bEnd)
            strText.append("/").append(m_strRest, m_nPos, std::string::npos);
        else if (bTrailingSlash)
            strText.push_back('/');
        m_strRest = std::move(strText);
        m_nPos = 0;
        if (m_strRest.front() == '/')
            return StartAt(true);
        return 0;
    }

    int m_fdStart;
    std::string m_strRest;
    std::size_t m_nPos = 0;
    bool m_bFollowLast;
    std::size_t m_nWalkedTail; // bytes at the end of m_strRest that a folder walk found
    SResolvedPath& m_result;
    CFileHandle m_folder;
    struct stat m_folderInfo
    {
    };
    bool m_bFolderInfo = false;
    int m_nLinks = 0;
};

// Opens strName in fdFolder: straight away where it is no link (the common case), else by the link rule.
CFileHandle OpenInFolder(int fdFolder, const std::string& strName, bool bLink, int nFlags)
{
    if (!bLink) {
        CFileHandle file(::openat(fdFolder, strName.c_str(), nFlags | O_NOFOLLOW | O_CLOEXEC));
        if (file || errno != ELOOP)
            return file;
        // A link put at the name since it was looked at: followed only as the rule allows.
    }
    return OpenFileByRule(fdFolder, strName, nFlags);
}

} // namespace

bool IsGuardedFolder(const struct stat& folder)
{
    if ((folder.st_mode & S_IWOTH) != 0)
        return true;
    return (folder.st_mode & S_IWGRP) != 0 && folder.st_uid != ::geteuid();
}

bool IsTrustedOwner(const struct stat& folder, uid_t nOwner)
{
    return nOwner == ::geteuid() || nOwner == folder.st_uid;
}

int ResolvePath(int fdStart, std::string_view strPath, bool bFollowLast, SResolvedPath& result,
                std::size_t nWalkedTail)
{
    result = SResolvedPath{};
    try {
        return CWalk(fdStart, strPath, bFollowLast, nWalkedTail, result).Run();
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int StatByRule(std::string_view strPath, bool bFollowLast, struct stat& info)
{
    SResolvedPath resolved;
    if (const int nError = ResolvePath(AT_FDCWD, strPath, bFollowLast, resolved); nError != 0)
        return nError;
    if (!resolved.entry)
        return ENOENT;
    info = resolved.info;
    return 0;
}

CFileHandle OpenFileByRule(int fdStart, std::string_view strPath, int nFlags, bool* pForeignLink)
{
    SResolvedPath resolved;
    const int nError = ResolvePath(fdStart, strPath, true, resolved);
    if (pForeignLink != nullptr)
        *pForeignLink = resolved.bForeignLink;
    if (nError != 0 || !resolved.entry) {
        errno = nError != 0 ? nError : ENOENT;
        return {};
    }
    // O_NOFOLLOW: a link put at the name since it was looked at is not followed by the kernel either.
    return CFileHandle(
        ::openat(resolved.folder.Get(), resolved.strName.c_str(), nFlags | O_NOFOLLOW | O_CLOEXEC));
}

CFileHandle CFileOpener::Open(std::string_view strPath, int nFlags, std::size_t nWalkedTail, int& fdFolder)
{
    fdFolder = -1;
    const std::size_t nNameStart = strPath.rfind('/') + 1; // 0 without a '/'
    const std::string_view strFolder = strPath.substr(0, nNameStart);
    const std::string strName(strPath.substr(nNameStart));
    const bool bPlainName = !strName.empty() && strName != "." && strName != "..";
    const std::size_t nWalked = std::min(nWalkedTail, strPath.size());
    const std::size_t nWalkedFolder = nWalked > strName.size() ? nWalked - strName.size() : 0;
    if (bPlainName && m_bReusable && m_folder && strFolder == m_strFolder &&
        nWalkedFolder == m_nWalkedFolder) {
        CFileHandle file = OpenInFolder(m_folder.Get(), strName, false, nFlags);
        if (file)
            fdFolder = m_folder.Get();
        return file;
    }
    m_folder = CFileHandle();
    m_bReusable = false;
    SResolvedPath place;
    if (const int nError = ResolvePath(AT_FDCWD, strPath, false, place, nWalkedTail);
        nError != 0 || !place.entry) {
        errno = nError != 0 ? nError : ENOENT;
        return {};
    }
    CFileHandle file = OpenInFolder(place.folder.Get(), place.strName, S_ISLNK(place.info.st_mode), nFlags);
    if (!file)
        return file;
    m_folder = std::move(place.folder);
    fdFolder = m_folder.Get();
    // A path that ends in "." or ".." names a folder other than its folder part: kept for the caller only.
    m_bReusable = bPlainName;
    m_strFolder = strFolder;
    m_nWalkedFolder = nWalkedFolder;
    return file;
}

} // namespace brasko
