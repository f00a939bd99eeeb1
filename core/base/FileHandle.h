#pragma once

#include <cstddef>
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

// Reads until nSize bytes are in pBuffer or the end of the file is reached; retries interrupted and short
// reads. The number of bytes read, or -1 with errno set on a read error.
ssize_t ReadFully(int fd, void* pBuffer, std::size_t nSize);

// Writes all nSize bytes; false with errno set when a write fails.
bool WriteFully(int fd, const void* pBuffer, std::size_t nSize);

} // namespace brasko
