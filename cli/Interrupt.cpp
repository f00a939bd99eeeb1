#include "Interrupt.h"

#include <csignal>
#include <initializer_list>

namespace brasko::cli {

namespace {

volatile std::sig_atomic_t g_nInterruptSignal = 0;

void OnInterrupt(int nSignal)
{
    g_nInterruptSignal = nSignal;
    std::signal(nSignal, SIG_DFL);
}

} // namespace

void CatchInterrupts()
{
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action
        {
        };
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(nSignal, &action, nullptr);
    }
}

int InterruptSignal()
{
    return g_nInterruptSignal;
}

} // namespace brasko::cli
