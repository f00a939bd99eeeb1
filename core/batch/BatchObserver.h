#pragma once

#include "DecryptOutcome.h"

#include <cstddef>
#include <string>

namespace brasko {

// Hears about each file, in the order of the batch, from one thread at a time. Front ends write the trace
// line when an input is opened and may say more than the summary when a file is finished (the command line
// adds the reason the system gave).
class IBatchObserver
{
public:
    virtual ~IBatchObserver() = default;
    virtual void OnInputOpened(std::size_t nIndex, const std::string& strPath) = 0;
    virtual void OnFileFinished(std::size_t nIndex, const std::string& strPath,
                                const SDecryptOutcome& outcome) = 0;
};

} // namespace brasko
