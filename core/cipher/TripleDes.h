#pragma once

#include "DesKernelChoice.h"
#include "TripleDesKey.h"

#include <cstddef>
#include <memory>

namespace brasko {

class CBitslicedKey;
class CEvpCipher;

// Triple-DES (EDE, three keys) ECB decryption without padding, over whole 8-byte blocks.
// One object per thread; the key schedules are wiped when it is destroyed.
class CTripleDesDecryptor
{
public:
    CTripleDesDecryptor();
    ~CTripleDesDecryptor();
    CTripleDesDecryptor(const CTripleDesDecryptor&) = delete;
    CTripleDesDecryptor& operator=(const CTripleDesDecryptor&) = delete;
    CTripleDesDecryptor(CTripleDesDecryptor&& other) noexcept;
    CTripleDesDecryptor& operator=(CTripleDesDecryptor&& other) noexcept;

    // With the kernel of DesKernelChoice(). False when the cipher cannot be set up (no usable OpenSSL
    // provider, or no memory).
    bool Init(const CTripleDesKey& key);
    // With the given kernel; false also when the CPU lacks it. EMemoryLock::None keeps the round keys in
    // plain memory, for a key that is no secret.
    bool Init(const CTripleDesKey& key, EDesKernel kernel, EMemoryLock lock = EMemoryLock::IfAllowed);
    // Takes the key schedules of another decryptor, so that one more thread can decrypt under the same key
    // without the key bytes. False when the other has none or the copy fails.
    bool InitFrom(const CTripleDesDecryptor& other);
    // Decrypts nLength bytes, a multiple of 8; pIn may equal pOut.
    bool Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength);

    EDesKernel Kernel() const { return m_kernel; }

private:
    EDesKernel m_kernel = EDesKernel::Evp;
    std::unique_ptr<CEvpCipher> m_pEvp;          // the EVP kernel's context
    std::shared_ptr<const CBitslicedKey> m_pKey; // the bitsliced kernels' round keys, read-only, shared
};

} // namespace brasko
