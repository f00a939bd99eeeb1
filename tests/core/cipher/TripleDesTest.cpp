#include "TripleDes.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace brasko {
namespace {

using test::FromHex;

std::string DecryptBlocks(const std::string& strKeyHex, const std::string& strCipherHex)
{
    CTripleDesKey key;
    const std::string strKey = FromHex(strKeyHex);
    std::copy(strKey.begin(), strKey.end(), key.Bytes().begin());
    CTripleDesDecryptor cipher;
    EXPECT_TRUE(cipher.Init(key));
    std::string strData = FromHex(strCipherHex);
    auto* pData = reinterpret_cast<unsigned char*>(strData.data());
    EXPECT_TRUE(cipher.Decrypt(pData, pData, strData.size()));
    return test::ToHex(strData);
}

TEST(TripleDesDecryptor, Decrypt_MatchesPublishedVectors)
{
    // NIST SP 800-67 Rev. 1, Appendix B: three distinct keys, K1 K2 K3 in this order.
    EXPECT_EQ(DecryptBlocks("0123456789abcdef23456789abcdef01456789abcdef0123",
                            "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"),
              "5468652071756663"
              "6b2062726f776e20"
              "666f78206a756d70");
    // Grabbe's single-DES example with K1 = K2 = K3: a key that fails the parity check and is used as is.
    EXPECT_EQ(DecryptBlocks("133457799bbcdff1133457799bbcdff1133457799bbcdff1", "85e813540f0ab405"),
              "0123456789abcdef");
    // A weak key (all zero bytes) is not refused.
    EXPECT_EQ(DecryptBlocks(std::string(48, '0'), "8ca64de9c1b123a7"), "0000000000000000");
}

// A second decryptor made from the first decrypts alike, without the key; one never set up gives nothing.
TEST(TripleDesDecryptor, InitFrom_DecryptsLikeTheOriginal)
{
    CTripleDesKey key;
    const std::string strKey = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");
    std::copy(strKey.begin(), strKey.end(), key.Bytes().begin());
    CTripleDesDecryptor original;
    ASSERT_TRUE(original.Init(key));
    CTripleDesDecryptor copy;
    ASSERT_TRUE(copy.InitFrom(original));
    std::string strData = FromHex("a826fd8ce53b855f");
    auto* pData = reinterpret_cast<unsigned char*>(strData.data());
    ASSERT_TRUE(copy.Decrypt(pData, pData, strData.size()));
    EXPECT_EQ(test::ToHex(strData), "5468652071756663");

    CTripleDesDecryptor unset;
    EXPECT_FALSE(copy.InitFrom(unset));
    EXPECT_FALSE(copy.Decrypt(pData, pData, strData.size()));
}

} // namespace
} // namespace brasko
