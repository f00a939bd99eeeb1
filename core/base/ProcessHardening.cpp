#include "ProcessHardening.h"

#include <csignal>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace brasko {

void HardenProcess()
{
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    ::signal(SIGXFSZ, SIG_IGN);
}

bool LockMemory(const void* pData, std::size_t nSize)
{
    return nSize == 0 || ::mlock(pData, nSize) == 0;
}

void UnlockMemory(const void* pData, std::size_t nSize)
{
    if (nSize > 0)
        ::munlock(pData, nSize);
}

} // namespace brasko
