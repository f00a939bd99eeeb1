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

} // namespace brasko
