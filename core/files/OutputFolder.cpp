#include "OutputFolder.h"

#include "PathResolver.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace brasko {

namespace {

// Whether a folder (or a link at a folder's place) of this owner may hold outputs where it stands: anywhere
// others can write (sticky or not, the caller's own team folder too) it must be the caller's or the
// parent's owner's.
bool MayHoldOutputs(const struct stat& parent, uid_t nOwner)
{
    return (parent.st_mode & (S_IWGRP | S_IWOTH)) == 0 || IsTrustedOwner(parent, nOwner);
}

// The output folder itself: resolved by the link rule, with its own and its parent's mode and owner.
int OpenBase(const std::string& strBase, CFileHandle& folder, struct stat& info, struct stat& parent,
             bool& bRefused, std::string& strRefused)
{
    SResolvedPath resolved;
    int nError = ResolvePath(AT_FDCWD, strBase, true, resolved);
    if (nError == 0 && !resolved.entry)
        nError = ENOENT;
    else if (nError == 0 && !S_ISDIR(resolved.info.st_mode))
        nError = ENOTDIR;
    if (nError == 0 && ::fstatat(resolved.entry.Get(), "..", &parent, 0) != 0)
        nError = errno;
    if (nError != 0) {
        bRefused = resolved.bForeignLink;
        if (bRefused)
            strRefused = strBase;
        return nError;
    }
    // The O_PATH descriptor of a folder serves as the folder for every *at() call.
    folder = std::move(resolved.entry);
    info = resolved.info;
    return 0;
}

// Below the folder fdStart (info; parent, its parent's; strPath, ending in '/') the folders named by strSub,
// made where missing; folder receives the last of them, and stays empty when strSub names none.
int Descend(int fdStart, struct stat info, struct stat parent, std::string strPath, std::string_view strSub,
            CFileHandle& folder, bool& bRefused, std::string& strRefused)
{
    int fdFolder = fdStart;
    std::size_t nPos = 0;
    for (;;) {
        if (!MayHoldOutputs(parent, info.st_uid)) {
            bRefused = true;
            strRefused = strPath;
            folder = CFileHandle();
            return EACCES;
        }
        while (nPos < strSub.size() && strSub[nPos] == '/')
            ++nPos;
        if (nPos == strSub.size())
            return 0;
        const std::size_t nEnd = std::min(strSub.find('/', nPos), strSub.size());
        const std::string strName(strSub.substr(nPos, nEnd - nPos));
        nPos = nEnd;
        strPath.append(strName).push_back('/');
        if (::mkdirat(fdFolder, strName.c_str(), 0777) != 0 && errno != EEXIST) {
            const int nError = errno;
            folder = CFileHandle();
            return nError;
        }
        CFileHandle child(::openat(fdFolder, strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child) {
            // Something else stands at the name: a link (never followed here) or a file.
            int nError = errno;
            struct stat entry
            {
            };
            const bool bKnown = ::fstatat(fdFolder, strName.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
            if (bKnown && S_ISLNK(entry.st_mode))
                nError = ELOOP; // O_PATH opens the link itself, which O_DIRECTORY then calls no folder
            const bool bForeign = bKnown && !MayHoldOutputs(info, entry.st_uid);
            folder = CFileHandle();
            if (bForeign) {
                bRefused = true;
                strRefused = strPath;
                return EACCES;
            }
            return nError;
        }
        parent = info;
        if (::fstat(child.Get(), &info) != 0) {
            const int nError = errno;
            folder = CFileHandle();
            return nError;
        }
        folder = std::move(child);
        fdFolder = folder.Get();
    }
}

std::string WithSlash(std::string strPath)
{
    if (!strPath.empty() && strPath.back() != '/')
        strPath.push_back('/');
    return strPath;
}

} // namespace

COutputFolders::COutputFolders(std::string strBase) : m_strBase(std::move(strBase)) {}

int COutputFolders::Open(std::string_view strSub, int& fdFolder, bool& bRefused, std::string& strRefused)
{
    bRefused = false;
    strRefused.clear();
    fdFolder = -1;
    if (!m_base) {
        if (const int nError = OpenBase(m_strBase, m_base, m_baseInfo, m_baseParent, bRefused, strRefused);
            nError != 0)
            return nError;
    }
    if (m_sub && strSub == m_strSub) {
        fdFolder = m_sub.Get();
        return 0;
    }
    m_sub = CFileHandle();
    m_strSub.clear();
    CFileHandle folder;
    if (const int nError = Descend(m_base.Get(), m_baseInfo, m_baseParent, WithSlash(m_strBase), strSub,
                                   folder, bRefused, strRefused);
        nError != 0)
        return nError;
    if (!folder) {
        fdFolder = m_base.Get();
        return 0;
    }
    m_sub = std::move(folder);
    m_strSub = strSub;
    fdFolder = m_sub.Get();
    return 0;
}

} // namespace brasko
