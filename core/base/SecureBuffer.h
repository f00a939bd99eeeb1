#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace brasko {

// Overwrites nSize bytes at pData with zeros, in a way the compiler does not drop as a dead store.
void SecureWipe(void* pData, std::size_t nSize);

// Whether a secure buffer keeps its bytes out of swap.
enum class EMemoryLock
{
    None, // heap memory, for the large buffers a file's bytes pass through, which locking would slow down
    IfAllowed, // pages of its own, locked where the system allows it and left out of core dumps
};

// Bytes of a secret: a password, a key, plaintext. The capacity is fixed when the buffer is made, so the
// bytes never move and no copy is left behind in freed memory. Every byte the buffer has held is wiped when
// it is released, and its own bookkeeping with it: the length of a password is a secret too.
class CSecureBuffer
{
public:
    CSecureBuffer() = default;
    // Throws std::bad_alloc when the memory cannot be had. A refused lock is no failure (IsLocked()).
    explicit CSecureBuffer(std::size_t nCapacity, EMemoryLock lock = EMemoryLock::IfAllowed);
    ~CSecureBuffer();
    CSecureBuffer(CSecureBuffer&& other) noexcept;
    CSecureBuffer& operator=(CSecureBuffer&& other) noexcept;
    CSecureBuffer(const CSecureBuffer&) = delete;
    CSecureBuffer& operator=(const CSecureBuffer&) = delete;

    // Bytes may be written through Data() up to Capacity(); they count as held once Resize() takes them in.
    unsigned char* Data() { return m_pData; }
    const unsigned char* Data() const { return m_pData; }
    std::size_t Size() const { return m_nSize; }
    std::size_t Capacity() const { return m_nCapacity; }
    bool IsLocked() const { return m_bLocked; }
    std::span<const unsigned char> Bytes() const { return {m_pData, m_nSize}; }
    std::string_view View() const { return {reinterpret_cast<const char*>(m_pData), m_nSize}; }

    // Sets the size, at most the capacity. The bytes beyond a smaller size are wiped.
    void Resize(std::size_t nSize);
    // Appends what fits of the nSize bytes at pData; the number of bytes appended.
    std::size_t Append(const void* pData, std::size_t nSize);

private:
    void Release();

    unsigned char* m_pData = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
    std::size_t m_nHeld = 0;   // the largest size it ever had: what is wiped on release
    std::size_t m_nMapped = 0; // bytes of pages of its own; 0 for heap memory
    bool m_bLocked = false;
};

} // namespace brasko
