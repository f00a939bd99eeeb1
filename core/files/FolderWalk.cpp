#include "FolderWalk.h"

#include "FileHandle.h"
#include "PathResolver.h"
#include "TemporaryName.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

// Folders kept open along the current path; those further up are closed and opened again on the way back.
constexpr std::size_t kOpenFolders = 64;

// One folder on the current path.
struct SFrame
{
    CFileHandle folder; // closed while far above the current folder
    dev_t dev = 0;
    ino_t ino = 0;
    std::size_t nPathLength = 0; // of the walk's path up to and including this folder's '/'
    Entries entries;
    std::size_t nNext = 0;
};

// Walks a folder depth first without recursion. Its memory is one path buffer that grows and shrinks with
// the depth, and per folder on the current path its descriptor and its entries: no folder copies the path
// of its ancestors. A failure in one folder (it cannot be opened or read, memory or descriptors run out)
// leaves out that folder's files alone.
class CFolderWalk
{
public:
    CFolderWalk(std::string strRoot, SInputList& list)
        : m_strPath(std::move(strRoot)), m_nRootLength(m_strPath.size()), m_list(list)
    {}

    void Run(CFileHandle root)
    {
        Push(std::move(root));
        while (!m_stack.empty()) {
            const std::size_t nTop = m_stack.size() - 1;
            SFrame& top = m_stack[nTop];
            if (top.nNext == top.entries.size()) {
                Pop();
                continue;
            }
            try {
                Visit(top, top.entries[top.nNext++]);
            } catch (const std::bad_alloc&) {
                Unreadable(m_stack[nTop], ENOMEM);
            }
        }
    }

private:
    // Reads a folder just opened and puts it on the path; the path buffer already ends in its name and '/'.
    bool Push(CFileHandle folder)
    {
        SFrame frame;
        struct stat info
        {
        };
        DirPtr pDir;
        if (::fstat(folder.Get(), &info) == 0) {
            if (const int fdRead = ::dup(folder.Get()); fdRead >= 0) {
                pDir.reset(::fdopendir(fdRead));
                if (!pDir)
                    ::close(fdRead);
            }
        }
        if (!pDir) {
            m_list.unreadableFolders.emplace_back(m_strPath, errno);
            return false;
        }
        frame.folder = std::move(folder);
        frame.dev = info.st_dev;
        frame.ino = info.st_ino;
        frame.nPathLength = m_strPath.size();
        try {
            frame.entries = ReadEntries(pDir.get(), m_strPath, m_list);
            m_stack.push_back(std::move(frame));
        } catch (const std::bad_alloc&) {
            m_list.unreadableFolders.emplace_back(m_strPath, ENOMEM);
            return false;
        }
        // The walk's root stays open: a folder that cannot be reached through ".." is found again from there.
        if (m_stack.size() > kOpenFolders + 1)
            m_stack[m_stack.size() - 1 - kOpenFolders].folder.Close();
        return true;
    }

    void Pop()
    {
        CFileHandle child = std::move(m_stack.back().folder);
        m_stack.pop_back();
        if (m_stack.empty())
            return;
        SFrame& parent = m_stack.back();
        m_strPath.resize(parent.nPathLength);
        if (!parent.folder)
            Reopen(parent, child);
    }

    // Opens a folder again that was closed on the way down: through ".." of its child, or else name by name
    // from the walk's root; only the very folder it was counts.
    void Reopen(SFrame& frame, const CFileHandle& child)
    {
        if (child)
            frame.folder = CFileHandle(::openat(child.Get(), "..", kFolderFlags));
        if (!IsFrameFolder(frame)) {
            frame.folder = CFileHandle(::openat(m_stack.front().folder.Get(), ".", kFolderFlags));
            for (std::size_t nPos = m_nRootLength; frame.folder && nPos < frame.nPathLength;) {
                const std::size_t nEnd = m_strPath.find('/', nPos);
                const std::string strName = m_strPath.substr(nPos, nEnd - nPos);
                frame.folder =
                    CFileHandle(::openat(frame.folder.Get(), strName.c_str(), kFolderFlags | O_NOFOLLOW));
                nPos = nEnd + 1;
            }
        }
        if (!IsFrameFolder(frame)) {
            const int nError = frame.folder ? ENOENT : errno;
            frame.folder = CFileHandle();
            Unreadable(frame, nError);
        }
    }

    static bool IsFrameFolder(const SFrame& frame)
    {
        struct stat info
        {
        };
        return frame.folder && ::fstat(frame.folder.Get(), &info) == 0 && info.st_dev == frame.dev &&
               info.st_ino == frame.ino;
    }

    // Leaves out the rest of a folder.
    void Unreadable(SFrame& frame, int nError)
    {
        frame.nNext = frame.entries.size();
        m_strPath.resize(frame.nPathLength);
        try {
            m_list.unreadableFolders.emplace_back(m_strPath, nError);
        } catch (const std::bad_alloc&) {
            // Not even the report fits; the folder is left out all the same.
        }
    }

    void Visit(const SFrame& frame, const std::pair<std::string, unsigned char>& entry)
    {
        const auto& [strName, nType] = entry;
        const int fd = frame.folder.Get();
        const unsigned char type = EntryType(fd, strName, nType);
        if (type == DT_REG) {
            if (IsBatchTemporaryName(strName))
                return;
            std::string strSub = m_strPath.substr(m_nRootLength);
            m_list.paths.push_back(m_strPath + strName);
            try {
                m_list.subFolders.push_back(std::move(strSub));
            } catch (const std::bad_alloc&) {
                m_list.paths.pop_back();
                throw;
            }
        } else if (type == DT_DIR) {
            // O_NOFOLLOW: a folder swapped for a link since it was listed is not followed either.
            CFileHandle child(::openat(fd, strName.c_str(), kFolderFlags | O_NOFOLLOW));
            const int nError = errno;
            m_strPath.append(strName).push_back('/');
            if (!child) {
                if (nError != ELOOP && nError != ENOTDIR && nError != ENOENT)
                    m_list.unreadableFolders.emplace_back(m_strPath, nError);
                m_strPath.resize(frame.nPathLength);
                return;
            }
            const std::size_t nParentLength = frame.nPathLength; // frame moves when the stack grows
            if (!Push(std::move(child)))
                m_strPath.resize(nParentLength);
        }
    }

    static constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

    std::string m_strPath; // the folder argument's path, then the current folder's below it, ending in '/'
    std::size_t m_nRootLength;
    SInputList& m_list;
    std::vector<SFrame> m_stack;
};

} // namespace

bool AddFolder(const std::string& strPath, SInputList& list)
{
    if (strPath.empty())
        return false;
    // The argument itself may be a link to a folder, followed by the same rule as every other path.
    SResolvedPath resolved;
    if (ResolvePath(AT_FDCWD, strPath, true, resolved) != 0 || !resolved.entry ||
        !S_ISDIR(resolved.info.st_mode))
        return false;
    const std::string strFolder = strPath.back() == '/' ? strPath : strPath + "/";
    CFileHandle folder(::openat(resolved.folder.Get(), resolved.strName.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    try {
        if (!folder)
            list.unreadableFolders.emplace_back(strFolder, errno);
        else
            CFolderWalk(strFolder, list).Run(std::move(folder));
    } catch (const std::bad_alloc&) {
        list.unreadableFolders.emplace_back(strFolder, ENOMEM);
    }
    return true;
}

} // namespace brasko
