#include "BatchInputs.h"

namespace brasko {

void AddInput(const std::string& strPath, bool bRecursive, SInputList& list)
{
    if (bRecursive && AddFolder(strPath, list))
        return;
    list.paths.push_back(strPath);
    list.subFolders.emplace_back();
}

} // namespace brasko
