#pragma once

#include "TripleDes.h"

#include <array>
#include <cstddef>

namespace brasko {

// Decrypts a file's bytes in order, a chunk at a time: the one place of the rule for a file whose length
// is not a multiple of 8. Its whole blocks are decrypted on their own; the 1..7 bytes left at the end are
// laid over the start of the last plaintext block (zeros before the first), whose tail still holds that
// block's plaintext, and those 8 bytes are decrypted, of which only the bytes read are kept. Files written
// by the old tool depend on exactly this. That block may lie in an earlier chunk, so it is carried from
// chunk to chunk. Every chunk but the last must be whole blocks.
class CChunkDecryptor
{
public:
    CChunkDecryptor() = default;
    ~CChunkDecryptor();
    CChunkDecryptor(const CChunkDecryptor&) = delete;
    CChunkDecryptor& operator=(const CChunkDecryptor&) = delete;
    CChunkDecryptor(CChunkDecryptor&&) = delete;
    CChunkDecryptor& operator=(CChunkDecryptor&&) = delete;

    // Decrypts the next nBytes of the file in place. False when the cipher fails.
    bool Decrypt(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes);

    // The same in two steps, for chunks decrypted on several threads: DecryptBlocks on any thread, in any
    // order; then Finish on each chunk in the order of the file.
    static bool DecryptBlocks(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes);
    bool Finish(CTripleDesDecryptor& cipher, unsigned char* pData, std::size_t nBytes);

private:
    std::array<unsigned char, kBlockSize> m_lastBlock{}; // the last plaintext block so far
};

} // namespace brasko
