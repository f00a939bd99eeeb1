#pragma once

#include <cstddef>
#include <memory>

namespace brasko {

class CTripleDesKey;

// OpenSSL's Triple-DES (DES-EDE3-ECB through EVP, without padding): the reference the bitsliced kernels are
// checked against and the fallback when they fail their self-test. OpenSSL stays inside EvpCipher.cpp, so
// that a build without it (WebAssembly) leaves that file out and defines these members to answer that
// there is no such cipher (Create and Clone give nullptr).
class CEvpCipher
{
public:
    // nullptr when the cipher cannot be set up (no usable OpenSSL provider, or no memory).
    static std::unique_ptr<CEvpCipher> Create(const CTripleDesKey& key);
    ~CEvpCipher();
    CEvpCipher(const CEvpCipher&) = delete;
    CEvpCipher& operator=(const CEvpCipher&) = delete;
    CEvpCipher(CEvpCipher&&) = delete;
    CEvpCipher& operator=(CEvpCipher&&) = delete;

    // Another context with the same key schedule, for another thread; nullptr when the copy fails.
    std::unique_ptr<CEvpCipher> Clone() const;
    // Decrypts nLength bytes, a multiple of 8; pIn may equal pOut.
    bool Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength);

private:
    struct SContext;
    explicit CEvpCipher(std::unique_ptr<SContext> pContext);

    std::unique_ptr<SContext> m_pContext;
};

} // namespace brasko
