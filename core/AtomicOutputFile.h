#pragma once

#include "FileHandle.h"

#include <cstddef>
#include <string>

namespace brasko {

// Writes a file as a whole or not at all: the bytes go to a temporary file beside the target, which
// Commit() renames over the target. Until then the target keeps what it held; without a Commit() the
// temporary file is removed. Errors are reported as errno values.
class CAtomicOutputFile
{
public:
    explicit CAtomicOutputFile(std::string strTargetPath);
    ~CAtomicOutputFile();
    CAtomicOutputFile(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile& operator=(const CAtomicOutputFile&) = delete;
    CAtomicOutputFile(CAtomicOutputFile&&) = delete;
    CAtomicOutputFile& operator=(CAtomicOutputFile&&) = delete;

    // Follows a symbolic link at the target to the file it names, refuses a target that exists but is not
    // a writable regular file (a folder, a device, a pipe, a read-only file), and creates the temporary
    // file. 0 or an errno value.
    int Open();
    // 0 or an errno value.
    int Write(const void* pData, std::size_t nSize);
    // Flushes, gives the temporary file the permissions of the file it replaces (or those of a new file)
    // and renames it over the target. 0 or an errno value.
    int Commit();


private:
    void Discard();

    std::string m_strTargetPath;
    std::string m_strResolvedPath;
    std::string m_strTempPath;
    CFileHandle m_file;
    bool m_bTargetExists = false;
    bool m_bCommitted = false;
    unsigned m_nTargetMode = 0;
    unsigned m_nTargetUid = 0;
    unsigned m_nTargetGid = 0;
};

} // namespace brasko
