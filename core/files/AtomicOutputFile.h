#pragma once

#include "FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace brasko {

// Why Open() will not write an output that is there already.
enum class EOutputRefusal
{
    None,
    ForeignLink,  // a symbolic link that another user put into a shared (sticky, world-writable) folder
    DanglingLink, // a symbolic link to nothing: no file is ever created through a link
    ForeignFile,  // a file that another user put into a shared folder
};

// How the file being written is kept until Commit().
enum class ETemporaryFile
{
    Unnamed, // O_TMPFILE, which nothing can open and which vanishes with the process; Named where refused
    Named,   // a hidden file ".<name>.<random>.tmp" beside the target
};

// Writes a file as a whole or not at all, safely in a folder that other users share. Everything happens
// through a descriptor of the target's folder. The bytes go to a temporary file in that folder that only the
// caller can read (0600); Commit() gives it its final permissions, links it into the folder and renames it
// over the target. Until then the target keeps what it held; without a Commit() nothing is left behind.
// Errors are reported as errno values.
//
// A symbolic link at the target is followed only where the kernel's fs.protected_symlinks would follow it,
// and the file it names is replaced in its own folder; the link stays. In a shared folder a file of another
// user is not replaced (as fs.protected_regular). A replaced file keeps its owner and group only when they
// are the caller's or the folder owner's, and its extended attributes (its ACL among them). The final
// permission bits are those of the replaced file, or 0666 less the umask for a new one, narrowed to
// nPermissionLimit (the input's), so the output is never readable by more users than the input.
class CAtomicOutputFile
{
public:
    explicit CAtomicOutputFile(std::string strTargetPath, unsigned nPermissionLimit = 0777,
                               ETemporaryFile temporary = ETemporaryFile::Unnamed);
    ~CAtomicOutputFile();
    CAtomicOutputFile(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile& operator=(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile(CAtomicOutputFile&&) = delete;
    CAtomicOutputFile& operator=(CAtomicOutputFile&&) = delete;

    // Checks the target (a folder, a device, a pipe or a read-only file is refused, as are the cases of
    // EOutputRefusal) and creates the temporary file, carrying the replaced file's extended attributes over
    // to it. 0 or an errno value; Refusal() tells when the target was refused for its owner or as a link.
    int Open();
    EOutputRefusal Refusal() const { return m_refusal; }
    // 0 or an errno value.
    int Write(const void* pData, std::size_t nSize);
    // All bytes written so far.
    std::uint64_t BytesWritten() const { return m_nBytesWritten; }
    // Flushes, gives the file its owner and permissions and puts it in the target's place. 0 or an errno
    // value; on failure the target is as it was.
    int Commit();
    // When an existing file is to be replaced: puts the written content on disk now rather than in Commit(),
    // so that a caller can do it off its critical path. 0 or an errno value; nothing to do without one.
    int SyncBeforeReplace();
    // Whether the file being written has no name (O_TMPFILE); false before Open().
    bool IsUnnamed() const { return m_bUnnamed; }

private:
    int ResolveTarget();
    int FollowLink(CFileHandle& entry, struct stat& info, struct stat& folderInfo);
    int EnterLinkTarget(int fdTarget, const struct stat& target);
    int TakeExisting(CFileHandle entry, const struct stat& info, const struct stat& folderInfo);
    int CreateTemporary();
    int LinkUnder(const std::string& strName);
    int PutInPlace();
    int LinkNewFile();
    int RenameOverTarget();
    void Discard();

    std::string m_strTargetPath;
    unsigned m_nPermissionLimit;
    ETemporaryFile m_temporary;
    EOutputRefusal m_refusal = EOutputRefusal::None;
    CFileHandle m_folder;   // the folder of the file that is replaced or created
    std::string m_strName;  // its name there
    CFileHandle m_existing; // the file that is replaced, when there is one
    CFileHandle m_file;
    std::string m_strTempName; // the temporary file's name in m_folder, while it has one
    bool m_bUnnamed = false;
    bool m_bCommitted = false;
    bool m_bSynced = false; // SyncBeforeReplace() did Commit()'s fsync
    bool m_bKeepOwner = false;
    unsigned m_nFinalMode = 0;
    uid_t m_nTargetUid = 0;
    gid_t m_nTargetGid = 0;
    std::uint64_t m_nBytesWritten = 0;
};

} // namespace brasko
