#include "Interrupt.h"

#include "FileHandle.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

namespace brasko::cli {

namespace {

// Set in the signal handler, read by whichever thread asks whether to stop (also a decrypting worker):
// a lock-free atomic is safe in both places.
std::atomic<int> g_nInterruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int nSignal)
{
    g_nInterruptSignal = nSignal;
    std::signal(nSignal, SIG_DFL);
    // The signal interrupts the thread it lands on; a read that waits on another one is woken as well.
    WakeBlockedReads();
}

} // namespace

void CatchInterrupts()
{
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action
        {
        };
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        // Without SA_RESTART: a read that waits for a file that never delivers returns EINTR, and the
        // batch asks whether to stop.
        action.sa_flags = 0;
        ::sigaction(nSignal, &action, nullptr);
    }
}

int InterruptSignal()
{
    return g_nInterruptSignal;
}

} // namespace brasko::cli
