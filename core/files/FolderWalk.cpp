#include "FolderWalk.h"

#include "TemporaryName.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace brasko {

namespace {

struct SDirCloser
{
    void operator()(DIR* pDir) const { ::closedir(pDir); }
};
using DirPtr = std::unique_ptr<DIR, SDirCloser>;

using Entries = std::vector<std::pair<std::string, unsigned char>>;

// The folder's entries with their types as the folder tells them, sorted by name bytewise. A read that
// fails midway marks the folder unreadable; what was read until then is kept.
Entries ReadEntries(DIR* pDir, const std::string& strPath, SInputList& list)
{
    Entries entries;
    errno = 0;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string_view name = pEntry->d_name;
        if (name != "." && name != "..")
            entries.emplace_back(name, pEntry->d_type);
        errno = 0;
    }
    if (errno != 0)
        list.unreadableFolders.emplace_back(strPath, errno);
    // std::string compares bytes as unsigned char, so this is the bytewise order whatever the locale.
    std::sort(entries.begin(), entries.end());
    return entries;
}

// DT_REG for a regular file or a link to one, DT_DIR for a folder (not a link to one), else DT_UNKNOWN.
unsigned char EntryType(int fdFolder, const std::string& strName, unsigned char type)
{
    struct stat info
    {
    };
    if (type == DT_UNKNOWN) {
        if (::fstatat(fdFolder, strName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return DT_UNKNOWN;
        type = S_ISREG(info.st_mode)   ? DT_REG
               : S_ISDIR(info.st_mode) ? DT_DIR
               : S_ISLNK(info.st_mode) ? DT_LNK
                                       : DT_UNKNOWN;
    }
    // A link is taken only when it names a regular file; links to folders are not followed.
    if (type == DT_LNK)
        return ::fstatat(fdFolder, strName.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode) ? DT_REG
                                                                                            : DT_UNKNOWN;
    if (type != DT_REG && type != DT_DIR)
        return DT_UNKNOWN;
    return type;
}

// Walks the open folder fdFolder (taken over), known to the user as strPath (ending in '/'); strSub is its
// place below the folder argument.
void WalkFolder(int fdFolder, const std::string& strPath, const std::string& strSub, SInputList& list)
{
    DirPtr pDir(::fdopendir(fdFolder));
    if (!pDir) {
        list.unreadableFolders.emplace_back(strPath, errno);
        ::close(fdFolder);
        return;
    }
    const Entries entries = ReadEntries(pDir.get(), strPath, list);
    const int fd = ::dirfd(pDir.get());
    for (const auto& [strName, nType] : entries) {
        const unsigned char type = EntryType(fd, strName, nType);
        if (type == DT_REG) {
            if (IsBatchTemporaryName(strName))
                continue;
            list.paths.push_back(strPath + strName);
            list.subFolders.push_back(strSub);
        } else if (type == DT_DIR) {
            // O_NOFOLLOW: a folder swapped for a link since it was listed is not followed either.
            const int fdChild =
                ::openat(fd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
            if (fdChild < 0) {
                if (errno != ELOOP && errno != ENOTDIR && errno != ENOENT)
                    list.unreadableFolders.emplace_back(strPath + strName + "/", errno);
                continue;
            }
            WalkFolder(fdChild, strPath + strName + "/", strSub + strName + "/", list);
        }
    }
}

} // namespace

bool AddFolder(const std::string& strPath, SInputList& list)
{
    struct stat info
    {
    };
    if (strPath.empty() || ::stat(strPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    const std::string strFolder = strPath.back() == '/' ? strPath : strPath + "/";
    if (fd < 0)
        list.unreadableFolders.emplace_back(strFolder, errno);
    else
        WalkFolder(fd, strFolder, {}, list);
    return true;
}

} // namespace brasko
