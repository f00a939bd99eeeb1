#pragma once

#include <cstddef>
#include <functional>
#include <sys/types.h>

namespace brasko {

// Owns a POSIX file descriptor and closes it when it goes out of scope.
class CFileHandle
{
public:
    CFileHandle() = default;
    explicit CFileHandle(int fd) : m_fd(fd) {}
    ~CFileHandle();
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    CFileHandle(CFileHandle&& other) noexcept;
    CFileHandle& operator=(CFileHandle&& other) noexcept;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Closes now; false (with errno set) when close reports an error.
    bool Close();

private:
    int m_fd = -1;
};

// Asked before each read and whenever a signal interrupts one: true ends the read there.
using StopAskedFn = std::function<bool()>;

// Reads until nSize bytes are in pBuffer or the end of the file is reached; retries short reads, and
// interrupted reads unless stopAsked (may be empty) says to stop: then -1 with errno EINTR. The number of
// bytes read, or -1 with errno set on a read error. While a read with stopAsked waits, WakeBlockedReads can
// interrupt it: a file on a hung network or FUSE server would otherwise hold the thread for good.
ssize_t ReadFully(int fd, void* pBuffer, std::size_t nSize, const StopAskedFn& stopAsked = {});

// Interrupts every read of ReadFully with stopAsked that waits on another thread, so that each asks whether
// to stop. Call it after the stop has been asked for. Safe in a signal handler.
void WakeBlockedReads();

// Writes all nSize bytes; false with errno set when a write fails.
bool WriteFully(int fd, const void* pBuffer, std::size_t nSize);

} // namespace brasko
