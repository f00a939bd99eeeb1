#pragma once

#include "DesKernel.h"
#include "DesKernelChoice.h"
#include "SecureBuffer.h"
#include "TripleDesKey.h"

#include <cstddef>
#include <memory>

namespace brasko {

// The round keys of a bitsliced kernel for one Triple-DES key (the key schedule), in a secure buffer of
// their own: locked into memory where the system allows it, left out of core dumps, wiped when released.
// Read-only once made, so the threads that decrypt under one key share it.
class CBitslicedKey
{
public:
    // nullptr for EVP, which has no bitsliced kernel, or when the memory cannot be had. EMemoryLock::None
    // for a key that is no secret: plain memory.
    static std::shared_ptr<const CBitslicedKey> Create(const CTripleDesKey& key, EDesKernel kernel,
                                                       EMemoryLock lock = EMemoryLock::IfAllowed);

    // Decrypts nBlocks 8-byte blocks; pIn may equal pOut.
    void Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nBlocks) const;

private:
    using DecryptBatchesFn = void (*)(const des::SRoundKeys&, const unsigned char*, unsigned char*,
                                      std::size_t);

    CBitslicedKey(CSecureBuffer pages, DecryptBatchesFn decryptBatches, std::size_t nBatchBlocks);

    CSecureBuffer m_pages; // holds the SRoundKeys
    DecryptBatchesFn m_decryptBatches;
    std::size_t m_nBatchBlocks; // the kernel's width: blocks per batch, never 0
};

} // namespace brasko
