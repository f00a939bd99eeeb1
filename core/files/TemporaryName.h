#pragma once

#include <string>
#include <string_view>

namespace brasko {

// The one format of the temporary files outputs are written to where a file system has no unnamed ones:
// hidden beside the target as ".<name>.<8 random letters or digits>.tmp", the name cut short enough that
// the whole stays below NAME_MAX.

// A fresh temporary name for the target name strName.
std::string MakeTemporaryName(const std::string& strName);

// Whether a name has that format, so that a folder walk leaves the batch's own temporary files out.
bool IsBatchTemporaryName(std::string_view name);

// Removes what a killed run may have left of the output strName in the folder fdFolder (an O_PATH descriptor
// will do): temporary files of that name in the format above that are regular files of the caller's, last
// written more than a minute ago (a younger one may belong to a run still going). The folder is read once
// and then again only when that was more than a minute ago, so that many outputs in one folder cost one read
// of it; one that cannot be read is left as it is.
void RemoveStaleTemporaries(int fdFolder, const std::string& strName);

} // namespace brasko
