#pragma once

#include <string>
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

// When strPath names a folder (or a link to one), adds every regular file below it (links to regular files
// included): each folder's entries sorted by name, bytewise, and subfolders descended into where they stand
// in that order. Links to folders, other kinds of files and the batch's own temporary files
// (IsBatchTemporaryName) are left out. False, with nothing added, for anything that is not a folder.
bool AddFolder(const std::string& strPath, SInputList& list);

} // namespace brasko
