#pragma once

#include "FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace brasko {

// Why Open() will not write an output that is there already.
enum class EOutputRefusal
{
    None,
    ForeignLink,  // a symbolic link on the way that another user put into a guarded folder (IsGuardedFolder)
    DanglingLink, // a symbolic link to nothing: no file is ever created through a link
    ForeignFile,  // a file that another user put into a shared folder
    Input,        // the input itself (SOutputSource), reached by a link or a second name
};

// The input an output is decrypted from, as far as the output depends on it.
struct SOutputSource
{
    unsigned nMode = 0777;      // permission bits: the output gets none that are not here
    std::optional<gid_t> group; // the input's group; none: the output's group is left as the folder gives it
    dev_t nDevice = 0;          // the input file, which is never written over; inode 0 (no file has it): none
    ino_t nInode = 0;
};

// How the file being written is kept until Commit().
enum class ETemporaryFile
{
    Unnamed, // O_TMPFILE, which nothing can open and which vanishes with the process; Named where refused
    Named,   // a hidden file ".<name>.<random>.tmp" beside the target
};

// What the caller knows of the target's name.
enum class ETargetName
{
    LookFirst, // Open() looks at what stands there: a file to replace, a link to follow, or nothing
    // The caller saw nothing there a moment ago. Open() walks to the folder but does not look at the name
    // again: in a folder that many threads write into, a look at a name that is not there waits for the
    // folder's lock behind each file put in place. The new file then takes the name only while it is free,
    // as any new file does: whatever appeared there since is neither replaced nor followed (Commit() says
    // EEXIST).
    SeenFree,
};

// Writes a file as a whole or not at all, safely in a folder that other users share. Everything happens
// through a descriptor of the target's folder. The bytes go to a temporary file in that folder that no other
// user can open (unnamed, or 0600); Commit() gives it its final permissions, links it into the folder and
// renames it over the target. Until then the target keeps what it held; without a Commit() nothing is left
// behind. Errors are reported as errno values.
//
// The target's path is found by the link rule of ResolvePath, for every link in it; a link at the target is
// not replaced: the file it names is, in its own folder, and the link stays. In a shared folder a file of
// another user is not replaced (as fs.protected_regular). The output always belongs to the caller. Its group
// is the caller's, unless the folder's setgid group is the input's group too. Its permission bits are those
// of the replaced file when that was the caller's, else 0666 less the umask (or as the folder's default ACL
// says), narrowed to the input's bits, without the group's bits when the group is not the input's: the output
// is never readable by more users than the input. A replaced file of the caller's passes its extended
// attributes (its ACL among them) on; another user's passes nothing on.
class CAtomicOutputFile
{
public:
    // A relative strTargetPath starts at fdStart (a folder descriptor that must stay open until Open()
    // returns), or at the current folder.
    explicit CAtomicOutputFile(std::string strTargetPath, SOutputSource source = {},
                               ETemporaryFile temporary = ETemporaryFile::Unnamed, int fdStart = AT_FDCWD,
                               ETargetName targetName = ETargetName::LookFirst);
    ~CAtomicOutputFile();
    CAtomicOutputFile(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile& operator=(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile(CAtomicOutputFile&&) = delete;
    CAtomicOutputFile& operator=(CAtomicOutputFile&&) = delete;

    // Checks the target (a folder, a device, a pipe or a read-only file is refused, as are the cases of
    // EOutputRefusal), removes what a killed run left of this output (RemoveStaleTemporaries) and creates the
    // temporary file, carrying the replaced file's extended attributes over to it where they pass on. 0 or
    // an errno value; Refusal() tells when the target was refused as the input, for its owner or as a link.
    int Open();
    EOutputRefusal Refusal() const { return m_refusal; }
    // 0 or an errno value.
    int Write(const void* pData, std::size_t nSize);
    // All bytes written so far.
    std::uint64_t BytesWritten() const { return m_nBytesWritten; }
    // Flushes, gives the file its permissions and puts it in the target's place. 0 or an errno value; on
    // failure the target is as it was.
    int Commit();
    // When an existing file is to be replaced: puts the written content on disk now rather than in Commit(),
    // so that a caller can do it off its critical path. 0 or an errno value; nothing to do without one.
    int SyncBeforeReplace();
    // Whether the file being written has no name (O_TMPFILE); false before Open().
    bool IsUnnamed() const { return m_bUnnamed; }

private:
    int ResolveTarget();
    int TakeExisting(CFileHandle entry, const struct stat& info, const struct stat& folderInfo);
    int CreateTemporary();
    int ShapeTemporary();
    int LinkUnder(const std::string& strName);
    int PutInPlace();
    int LinkNewFile();
    int RenameOverTarget();
    void Discard();

    std::string m_strTargetPath;
    SOutputSource m_source;
    ETemporaryFile m_temporary;
    int m_fdStart;
    ETargetName m_targetName;
    EOutputRefusal m_refusal = EOutputRefusal::None;
    CFileHandle m_folder;   // the folder of the file that is replaced or created
    std::string m_strName;  // its name there
    CFileHandle m_existing; // the file that is replaced, when there is one
    CFileHandle m_file;
    // m_file as it was created
    struct stat m_created
    {
    };
    std::string m_strTempName; // the temporary file's name in m_folder, while it has one
    bool m_bUnnamed = false;
    bool m_bCommitted = false;
    bool m_bOwnExisting = false; // m_existing is the caller's: it passes its permissions and attributes on
    unsigned m_nExistingMode = 0;
    bool m_bSynced = false; // SyncBeforeReplace() did Commit()'s fsync
    unsigned m_nFinalMode = 0;
    std::uint64_t m_nBytesWritten = 0;
};

} // namespace brasko
