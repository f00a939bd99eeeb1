#include "TripleDesKey.h"

#include "Utf8.h"

#include <algorithm>

namespace brasko {

CTripleDesKey::CTripleDesKey() : CTripleDesKey(EMemoryLock::IfAllowed) {}

CTripleDesKey::CTripleDesKey(EMemoryLock lock) : m_key(kKeyLength, lock)
{
    m_key.Resize(kKeyLength);
    std::fill_n(m_key.Data(), kKeyLength, 0);
}

CTripleDesKey::CTripleDesKey(const CTripleDesKey& other) : CTripleDesKey()
{
    std::copy_n(other.m_key.Data(), kKeyLength, m_key.Data());
}

CTripleDesKey& CTripleDesKey::operator=(const CTripleDesKey& other)
{
    if (this != &other)
        *this = CTripleDesKey(other);
    return *this;
}

CTripleDesKey DeriveKey(std::string_view password)
{
    CTripleDesKey key;
    const std::span<unsigned char, kKeyLength> bytes = key.Bytes();
    std::fill(bytes.begin(), bytes.end(), static_cast<unsigned char>(' '));
    std::size_t nPos = 0;
    for (std::size_t i = 0; i < kKeyLength && nPos < password.size(); ++i) {
        const std::size_t nLength = utf8::CharacterLength(password, nPos);
        const auto byte = static_cast<unsigned char>(password[nPos]);
        bytes[i] = (nLength == 1 && byte < 0x80) ? byte : static_cast<unsigned char>('?');
        nPos += nLength;
    }
    return key;
}

} // namespace brasko
