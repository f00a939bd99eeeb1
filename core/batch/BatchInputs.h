#pragma once

#include "FolderWalk.h"

#include <string>

namespace brasko {

// Adds one argument of a front end to a batch's inputs. With bRecursive a folder stands for every regular
// file below it, as the folder walk finds them (AddFolder). Anything else (a file, a missing path, a folder
// without bRecursive) is added as it is; the batch reports what cannot be decrypted.
void AddInput(const std::string& strPath, bool bRecursive, SInputList& list);

} // namespace brasko
