#include "ProcessHardening.h"

#include <csignal>
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

} // namespace brasko
