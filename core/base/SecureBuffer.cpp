#include "SecureBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

// Pages of its own, locked and left out of core dumps, where the system has them; plain heap memory in a
// build without them (WebAssembly).
#if defined(__unix__) && !defined(__EMSCRIPTEN__)
#define BRASKO_HAVE_MLOCK 1
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace brasko {

void SecureWipe(void* pData, std::size_t nSize)
{
    if (nSize == 0)
        return;
#if defined(__GLIBC__)
    ::explicit_bzero(pData, nSize);
#else
    auto* volatile pBytes = static_cast<unsigned char*>(pData);
    for (std::size_t i = 0; i < nSize; ++i)
        pBytes[i] = 0;
#endif
}

CSecureBuffer::CSecureBuffer(std::size_t nCapacity, EMemoryLock lock) : m_nCapacity(nCapacity)
{
    if (nCapacity == 0)
        return;
#ifdef BRASKO_HAVE_MLOCK
    if (lock == EMemoryLock::IfAllowed) {
        // Whole pages, so that unlocking them never unlocks another object's bytes.
        const auto nPage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t nMapped = (nCapacity + nPage - 1) / nPage * nPage;
        void* pMemory = ::mmap(nullptr, nMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pMemory == MAP_FAILED)
            throw std::bad_alloc();
        m_pData = static_cast<unsigned char*>(pMemory);
        m_nMapped = nMapped;
        m_bLocked = ::mlock(pMemory, nMapped) == 0;
#ifdef MADV_DONTDUMP
        ::madvise(pMemory, nMapped, MADV_DONTDUMP);
#endif
        return;
    }
#else
    (void)lock;
#endif
    // Not a vector, which would fill every byte with zeros first.
    m_pData = new unsigned char[nCapacity];
}

CSecureBuffer::~CSecureBuffer()
{
    Release();
}

CSecureBuffer::CSecureBuffer(CSecureBuffer&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)), m_nSize(std::exchange(other.m_nSize, 0)),
      m_nCapacity(std::exchange(other.m_nCapacity, 0)), m_nHeld(std::exchange(other.m_nHeld, 0)),
      m_nMapped(std::exchange(other.m_nMapped, 0)), m_bLocked(std::exchange(other.m_bLocked, false))
{}

CSecureBuffer& CSecureBuffer::operator=(CSecureBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_nCapacity = std::exchange(other.m_nCapacity, 0);
        m_nHeld = std::exchange(other.m_nHeld, 0);
        m_nMapped = std::exchange(other.m_nMapped, 0);
        m_bLocked = std::exchange(other.m_bLocked, false);
    }
    return *this;
}

void CSecureBuffer::Release()
{
    if (m_pData != nullptr) {
        SecureWipe(m_pData, m_nHeld);
#ifdef BRASKO_HAVE_MLOCK
        if (m_nMapped > 0) {
            if (m_bLocked)
                ::munlock(m_pData, m_nMapped);
            ::munmap(m_pData, m_nMapped);
        } else {
            delete[] m_pData;
        }
#else
        delete[] m_pData;
#endif
    }
    SecureWipe(this, sizeof *this);
}

void CSecureBuffer::Resize(std::size_t nSize)
{
    nSize = std::min(nSize, m_nCapacity);
    if (nSize < m_nSize)
        SecureWipe(m_pData + nSize, m_nSize - nSize);
    m_nSize = nSize;
    m_nHeld = std::max(m_nHeld, nSize);
}

std::size_t CSecureBuffer::Append(const void* pData, std::size_t nSize)
{
    const std::size_t nTake = std::min(nSize, m_nCapacity - m_nSize);
    if (nTake > 0) {
        std::memcpy(m_pData + m_nSize, pData, nTake);
        Resize(m_nSize + nTake);
    }
    return nTake;
}

} // namespace brasko
