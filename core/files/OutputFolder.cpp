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

} // namespace

int OpenOutputFolder(const std::string& strBase, std::string_view strSub, CFileHandle& folder, bool& bRefused,
                     std::string& strRefused)
{
    bRefused = false;
    strRefused.clear();
    SResolvedPath resolved;
    int nError = ResolvePath(AT_FDCWD, strBase, true, resolved);
    if (nError == 0 && !resolved.entry)
        nError = ENOENT;
    else if (nError == 0 && !S_ISDIR(resolved.info.st_mode))
        nError = ENOTDIR;
    struct stat info = resolved.info;
    struct stat parent
    {
    };
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
    std::string strPath = strBase;
    if (!strPath.empty() && strPath.back() != '/')
        strPath.push_back('/');
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
        if (::mkdirat(folder.Get(), strName.c_str(), 0777) != 0 && errno != EEXIST) {
            nError = errno;
            folder = CFileHandle();
            return nError;
        }
        CFileHandle child(
            ::openat(folder.Get(), strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child) {
            // Something else stands at the name: a link (never followed here) or a file.
            nError = errno;
            struct stat entry
            {
            };
            const bool bKnown = ::fstatat(folder.Get(), strName.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
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
        if (::fstat(child.Get(), &info) != 0)
            return errno;
        folder = std::move(child);
    }
}

} // namespace brasko
