#pragma once

#include "FileHandle.h"

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace brasko {

// Whether other users can put entries into the folder: it is writable for everyone, or writable for its
// group while the caller does not own it (a team folder, whose members may be hostile to each other).
bool IsGuardedFolder(const struct stat& folder);

// Whether an entry of this owner in the folder was put there by someone the caller trusts: the caller or
// the folder's owner, who could replace it anyway. File access on Linux goes by the file-system uid, which
// follows the effective uid.
bool IsTrustedOwner(const struct stat& folder, uid_t nOwner);

// Where a path leads, found one name at a time.
struct SResolvedPath
{
    CFileHandle folder; // O_PATH descriptor of the folder that holds the last name
    struct stat folderInfo
    {
    };
    std::string strName; // the last name in that folder; "." when the path names a folder by "/", "." or ".."
    CFileHandle entry;   // O_PATH|O_NOFOLLOW descriptor of what stands at the name, when something does
    struct stat info
    {
    };
    bool bThroughLink = false; // the last name came out of a link's text (a link to nothing, when missing)
    bool bForeignLink = false; // the walk stopped at a link in a guarded folder of an untrusted owner
};

// Walks strPath from fdStart (AT_FDCWD, or a folder descriptor for a relative path) one name at a time,
// never letting the kernel follow a link: every link met, in a folder part or at the end, in a chain or not,
// is followed by its text only where the kernel's fs.protected_symlinks would follow it, extended to every
// guarded folder (IsGuardedFolder): its owner must be trusted (IsTrustedOwner). Magic links (/proc/self/fd)
// count by their text. At most 40 links (ELOOP). With bFollowLast false, a link at the end is the result.
// A missing last name is no error (result.entry stays empty); a missing folder part is ENOENT. 0 or an
// errno value; EACCES with bForeignLink for a refused link, whose folder and name the result then holds.
// The last nWalkedTail bytes of strPath name folders that a folder walk found (and the file's name): a link
// among those folders, put there since, is not followed at all (ELOOP).
int ResolvePath(int fdStart, std::string_view strPath, bool bFollowLast, SResolvedPath& result,
                std::size_t nWalkedTail = 0);

// What stands at strPath (from the current folder), found as ResolvePath finds it: 0 with info filled, or an
// errno value (ENOENT where nothing is, EACCES for a refused link).
int StatByRule(std::string_view strPath, bool bFollowLast, struct stat& info);

// Opens the file at strPath, resolved as ResolvePath does, with the open flags given (O_NOFOLLOW and
// O_CLOEXEC are added). An invalid handle with errno set when it fails: ENOENT where nothing is, EACCES for
// a refused link (and *pForeignLink set, when given).
CFileHandle OpenFileByRule(int fdStart, std::string_view strPath, int nFlags, bool* pForeignLink = nullptr);

// Opens files one after another as OpenFileByRule does, keeping the folder the last one stood in: a file
// whose path has the same folder part (walked alike, nWalkedTail as ResolvePath) is opened from that folder's
// descriptor without walking the path again. The descriptor pins the folder: a folder part swapped for a link
// after it was resolved changes nothing, as if the path had been resolved just before the swap. Failures are
// not kept. One per thread.
class CFileOpener
{
public:
    // As OpenFileByRule from the current folder; fdFolder receives the folder the last name stands in, valid
    // until the next call (-1 on failure).
    CFileHandle Open(std::string_view strPath, int nFlags, std::size_t nWalkedTail, int& fdFolder);

private:
    std::string m_strFolder;         // the folder part of the last path, up to its last '/'
    std::size_t m_nWalkedFolder = 0; // how much of it a folder walk found
    CFileHandle m_folder;
    bool m_bReusable = false; // m_folder is the folder that m_strFolder names
};

} // namespace brasko
