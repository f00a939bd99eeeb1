#pragma once

#include "OpenSslPtr.h"

#include <array>
#include <cstddef>
#include <string>

namespace brasko {

inline constexpr std::size_t kKeyLength = 24;
inline constexpr std::size_t kBlockSize = 8;
inline constexpr std::size_t kMaxPasswordChars = 24;

// The 24 key bytes K1 K2 K3. Wiped when it goes out of scope.
class CTripleDesKey
{
public:
    CTripleDesKey();
    ~CTripleDesKey();
    CTripleDesKey(const CTripleDesKey& other);
    CTripleDesKey& operator=(const CTripleDesKey& other);
    // No move operations: a move copies, and both copies are wiped.

    std::array<unsigned char, kKeyLength>& Bytes() { return m_key; }
    const std::array<unsigned char, kKeyLength>& Bytes() const { return m_key; }

private:
    std::array<unsigned char, kKeyLength> m_key{};
};

// The key for a password given as UTF-8: blanks, overlaid by one byte per character (code point) of the
// first 24 characters. A character below 0x80 gives its own byte; any other character, and every byte that
// is not part of a valid UTF-8 sequence, gives "?". This matches the old tool, which saw the password in a
// single-byte code page and mapped every byte from 0x80 up to "?".
CTripleDesKey DeriveKey(const std::string& strPassword);

// Triple-DES (EDE, three keys) ECB decryption without padding, over whole 8-byte blocks.
// One object per thread; the key schedules are wiped when it is destroyed.
class CTripleDesDecryptor
{
public:
    // False when the cipher cannot be set up (no usable OpenSSL provider).
    bool Init(const CTripleDesKey& key);
    // Takes the key schedules of another decryptor, so that one more thread can decrypt under the same key
    // without the key bytes. False when the other has none or the copy fails.
    bool InitFrom(const CTripleDesDecryptor& other);
    // Decrypts nLength bytes, a multiple of 8; pIn may equal pOut.
    bool Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength);

private:
    CipherCtxPtr m_pCtx;
};

} // namespace brasko
