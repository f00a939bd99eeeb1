#pragma once

#include "FileHandle.h"

#include <string>
#include <string_view>

namespace brasko {

// Opens the folder an output goes to: strBase (the output folder, found by the link rule of ResolvePath)
// and below it the folders named by strSub ("2019/a/", names from a folder walk), each made with mkdirat
// where it is missing (0777 less the umask) and opened without following a link. A folder that exists and
// belongs to neither the caller nor the owner of the folder it stands in, where that folder is guarded
// (IsGuardedFolder), is not a place for outputs: its owner could read or swap what is written there. Then
// EACCES, with bRefused set and strRefused the folder's path. Otherwise 0 or an errno value.
int OpenOutputFolder(const std::string& strBase, std::string_view strSub, CFileHandle& folder, bool& bRefused,
                     std::string& strRefused);

} // namespace brasko
