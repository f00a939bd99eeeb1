#pragma once

// The page has no OpenSSL: the two helpers the core's kernels and checks use from it, for the web build.
#include <cstddef>

inline void OPENSSL_cleanse(void* p, std::size_t nSize)
{
    volatile unsigned char* pBytes = static_cast<volatile unsigned char*>(p);
    for (std::size_t i = 0; i < nSize; ++i)
        pBytes[i] = 0;
}

// Compares without stopping at the first difference.
inline int CRYPTO_memcmp(const void* pA, const void* pB, std::size_t nSize)
{
    const auto* a = static_cast<const unsigned char*>(pA);
    const auto* b = static_cast<const unsigned char*>(pB);
    unsigned char nDiff = 0;
    for (std::size_t i = 0; i < nSize; ++i)
        nDiff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return nDiff;
}
