#include "ChunkDecryptor.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace brasko {
namespace {

// A file decrypted in chunks of any whole-block size, in one call or split into the parallel step and the
// in-order step, gives the old tool's plaintext: whole blocks on their own, a short final chunk laid over
// the last plaintext block, which may lie several chunks back. The oracle is the openssl command line.
TEST(ChunkDecryptor, Decrypt_MatchesOracleForAnyChunking)
{
    const std::string strKey = "Kennwort" + std::string(16, ' ');
    CTripleDesKey key;
    std::memcpy(key.Bytes().data(), strKey.data(), kKeyLength);
    CTripleDesDecryptor cipher;
    ASSERT_TRUE(cipher.Init(key));
    for (const std::size_t nSize : {std::size_t{5}, std::size_t{8}, std::size_t{13}, std::size_t{4099}}) {
        const std::string strCipher = test::RandomBytes(nSize, static_cast<unsigned>(nSize));
        const std::string strExpected = test::ExpectedPlaintext(strKey, strCipher);
        for (const std::size_t nChunk : {std::size_t{8}, std::size_t{24}, std::size_t{4096}}) {
            for (const bool bTwoSteps : {false, true}) {
                SCOPED_TRACE(std::to_string(nSize) + " bytes in chunks of " + std::to_string(nChunk) +
                             (bTwoSteps ? ", two steps" : ""));
                std::string strData = strCipher;
                auto* pData = reinterpret_cast<unsigned char*>(strData.data());
                CChunkDecryptor chunks;
                for (std::size_t nPos = 0; nPos < nSize; nPos += nChunk) {
                    const std::size_t nBytes = std::min(nChunk, nSize - nPos);
                    if (bTwoSteps) {
                        ASSERT_TRUE(CChunkDecryptor::DecryptBlocks(cipher, pData + nPos, nBytes));
                        ASSERT_TRUE(chunks.Finish(cipher, pData + nPos, nBytes));
                    } else {
                        ASSERT_TRUE(chunks.Decrypt(cipher, pData + nPos, nBytes));
                    }
                }
                EXPECT_TRUE(strData == strExpected);
            }
        }
    }
}

} // namespace
} // namespace brasko
