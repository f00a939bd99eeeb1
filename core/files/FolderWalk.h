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

// When strPath names a folder (or a link to one that the link rule of ResolvePath follows), adds every
// regular file below it (links to regular files included): each folder's entries sorted by name, bytewise,
// and subfolders descended into where they stand in that order. Links to folders, other kinds of files and
// the batch's own temporary files (IsBatchTemporaryName) are left out. False, with nothing added, for
// anything that is not a folder. The paths added are opened later by the same rule (OpenFileByRule), so that
// a folder swapped for a link after the walk leads nowhere the rule forbids. Memory grows with the depth and
// the entries of the folders on the current path, not with the length of their paths; a folder that cannot
// be read, or for which memory or descriptors run out, is listed in unreadableFolders and only its files
// are left out.
bool AddFolder(const std::string& strPath, SInputList& list);

} // namespace brasko
