#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brasko {

// The inputs of a batch as the front end collected them: the paths in order, and for each the folder
// below the output folder its output goes to (its place below the folder argument it was found in).
struct SInputList
{
    std::vector<std::string> paths;
    std::vector<std::string> subFolders; // one per path, "" or ending in '/'
    // Folders that could not be read, each with the errno of the failing call.
    std::vector<std::pair<std::string, int>> unreadableFolders;
};

// Adds one argument. With bRecursive a folder stands for every regular file below it (links to regular
// files included): each folder's entries sorted by name, bytewise, and subfolders descended into where
// they stand in that order. Links to folders, other kinds of files and the batch's own temporary files
// are left out. Anything else (a file, a missing path, a folder without bRecursive) is added as it is.
void AddInput(const std::string& strPath, bool bRecursive, SInputList& list);

// Whether a name is that of a temporary file the batch writes its outputs to (".<name>.<8 letters>.tmp").
bool IsBatchTemporaryName(std::string_view name);

} // namespace brasko
