#pragma once

#include "SecureBuffer.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace brasko {

inline constexpr std::size_t kKeyLength = 24;
inline constexpr std::size_t kBlockSize = 8;
inline constexpr std::size_t kMaxPasswordChars = 24;

// The 24 key bytes K1 K2 K3, in a secure buffer: locked where allowed, wiped when it goes out of scope.
class CTripleDesKey
{
public:
    CTripleDesKey();
    // With EMemoryLock::None for a key that is no secret (a known-answer test): no pages of its own.
    explicit CTripleDesKey(EMemoryLock lock);
    ~CTripleDesKey() = default;
    CTripleDesKey(const CTripleDesKey& other);
    CTripleDesKey& operator=(const CTripleDesKey& other);
    CTripleDesKey(CTripleDesKey&& other) noexcept = default;
    CTripleDesKey& operator=(CTripleDesKey&& other) noexcept = default;

    std::span<unsigned char, kKeyLength> Bytes()
    {
        return std::span<unsigned char, kKeyLength>(m_key.Data(), kKeyLength);
    }
    std::span<const unsigned char, kKeyLength> Bytes() const
    {
        return std::span<const unsigned char, kKeyLength>(m_key.Data(), kKeyLength);
    }

private:
    CSecureBuffer m_key;
};

// The key for a password given as UTF-8: blanks, overlaid by one byte per character (code point) of the
// first 24 characters. A character below 0x80 gives its own byte; any other character, and every byte that
// is not part of a valid UTF-8 sequence, gives "?". This matches the old tool, which saw the password in a
// single-byte code page and mapped every byte from 0x80 up to "?".
CTripleDesKey DeriveKey(std::string_view password);

} // namespace brasko
