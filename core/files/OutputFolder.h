#pragma once

#include "FileHandle.h"

#include <string>
#include <string_view>
#include <sys/stat.h>

namespace brasko {

// The folders the outputs of a batch go to, one after another: strBase (the output folder, found by the link
// rule of ResolvePath) and below it the folders named by strSub ("2019/a/", names from a folder walk), each
// made with mkdirat where it is missing (0777 less the umask) and opened without following a link. A folder
// that exists and belongs to neither the caller nor the owner of the folder it stands in, where that folder
// is guarded (IsGuardedFolder), is not a place for outputs: its owner could read or swap what is written
// there. The output folder is resolved once and the last folder below it is kept, so that the outputs of one
// folder cost no walk at all. A kept descriptor pins its folder: a folder swapped for another or for a link
// after it was opened changes nothing, as if it had been opened anew just before the swap. Failures are not
// kept (the next output tries again). One per thread.
class COutputFolders
{
public:
    explicit COutputFolders(std::string strBase);

    // The folder for the outputs of strSub: fdFolder is a descriptor that stays valid until the next call. A
    // folder refused as above gives EACCES, with bRefused set and strRefused the folder's path; otherwise 0
    // or an errno value.
    int Open(std::string_view strSub, int& fdFolder, bool& bRefused, std::string& strRefused);

private:
    std::string m_strBase;
    CFileHandle m_base;
    struct stat m_baseInfo
    {
    };
    struct stat m_baseParent
    {
    };
    std::string m_strSub; // the folder kept below the output folder ("" for none)
    CFileHandle m_sub;
};

} // namespace brasko
