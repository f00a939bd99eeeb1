#include "FileHandle.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace brasko {

CFileHandle::~CFileHandle()
{
    Close();
}

CFileHandle::CFileHandle(CFileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CFileHandle& CFileHandle::operator=(CFileHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool CFileHandle::Close()
{
    if (m_fd < 0)
        return true;
    // After close() the descriptor is gone whatever it reports, so EINTR is not retried.
    const int nResult = ::close(std::exchange(m_fd, -1));
    return nResult == 0;
}

namespace {

// Threads waiting in a read that a stop may end, by thread id; 0 marks a free slot. More readers than slots
// (never more than a few per hardware thread) read without a slot and cannot be woken.
constexpr std::size_t kReaderSlots = 256;
std::array<std::atomic<pid_t>, kReaderSlots> g_readers{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// SIGURG is ignored by default and the program uses no sockets that would raise it. Its handler does
// nothing; being installed without SA_RESTART it makes a blocked read return EINTR.
constexpr int kWakeSignal = SIGURG;

void OnWake(int /*nSignal*/) {}

void InstallWakeHandler()
{
    static const bool bInstalled = [] {
        struct sigaction action
        {
        };
        action.sa_handler = OnWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        return ::sigaction(kWakeSignal, &action, nullptr) == 0;
    }();
    (void)bInstalled;
}

// The calling thread listed as a reader while it lives.
class CReaderSlot
{
public:
    CReaderSlot()
    {
        InstallWakeHandler();
        const pid_t tid = ::gettid();
        for (std::atomic<pid_t>& slot : g_readers) {
            pid_t nFree = 0;
            if (slot.compare_exchange_strong(nFree, tid)) {
                m_pSlot = &slot;
                return;
            }
        }
    }
    ~CReaderSlot()
    {
        if (m_pSlot != nullptr)
            m_pSlot->store(0);
    }
    CReaderSlot(const CReaderSlot&) = delete;
    CReaderSlot& operator=(const CReaderSlot&) = delete;
    CReaderSlot(CReaderSlot&&) = delete;
    CReaderSlot& operator=(CReaderSlot&&) = delete;

private:
    std::atomic<pid_t>* m_pSlot = nullptr;
};

// Keeps errno across the caller's question, which may make calls of its own.
bool StopAsked(const StopAskedFn& stopAsked)
{
    const int nError = errno;
    const bool bStop = stopAsked && stopAsked();
    errno = nError;
    return bStop;
}

} // namespace

ssize_t ReadFully(int fd, void* pBuffer, std::size_t nSize, const StopAskedFn& stopAsked)
{
    std::optional<CReaderSlot> slot;
    if (stopAsked)
        slot.emplace();
    auto* pBytes = static_cast<unsigned char*>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nSize) {
        // Asked before the read as well: a wake that came just before it would be lost otherwise.
        if (StopAsked(stopAsked)) {
            errno = EINTR;
            return -1;
        }
        const ssize_t n = ::read(fd, pBytes + nDone, nSize - nDone);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        nDone += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(nDone);
}

void WakeBlockedReads()
{
    const pid_t pid = ::getpid();
    const pid_t self = ::gettid();
    for (const std::atomic<pid_t>& slot : g_readers) {
        const pid_t tid = slot.load();
        if (tid != 0 && tid != self)
            ::syscall(SYS_tgkill, pid, tid, kWakeSignal);
    }
}

bool WriteFully(int fd, const void* pBuffer, std::size_t nSize)
{
    const auto* pBytes = static_cast<const unsigned char*>(pBuffer);
    while (nSize > 0) {
        const ssize_t n = ::write(fd, pBytes, nSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        pBytes += n;
        nSize -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace brasko
