#include "FileHandle.h"

#include <cerrno>
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

ssize_t ReadFully(int fd, void* pBuffer, std::size_t nSize)
{
    auto* pBytes = static_cast<unsigned char*>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nSize) {
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
