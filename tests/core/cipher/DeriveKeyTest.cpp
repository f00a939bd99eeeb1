#include "TripleDes.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace brasko {
namespace {

std::string KeyOf(const std::string& strPassword)
{
    const CTripleDesKey key = DeriveKey(strPassword);
    return {key.Bytes().begin(), key.Bytes().end()};
}

struct SKeyCase
{
    std::string strPassword;
    std::string strKey; // 24 bytes
};

void PrintTo(const SKeyCase& c, std::ostream* pOut)
{
    *pOut << ::testing::PrintToString(c.strPassword);
}

class DeriveKeyTable : public ::testing::TestWithParam<SKeyCase>
{
};

TEST_P(DeriveKeyTable, DeriveKey_LaysCharactersOverBlanks)
{
    EXPECT_EQ(KeyOf(GetParam().strPassword), GetParam().strKey);
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, DeriveKeyTable,
    ::testing::Values(
        SKeyCase{"", "                        "}, SKeyCase{"geheim", "geheim                  "},
        SKeyCase{"12345678", "12345678                "},
        SKeyCase{"123456789abcdef", "123456789abcdef         "},
        SKeyCase{"0123456789abcdefghijklmn", "0123456789abcdefghijklmn"},
        // Longer than 24 characters: the first 24 count.
        SKeyCase{"0123456789abcdefghijklmnXYZ", "0123456789abcdefghijklmn"},
        // Every non-ASCII character is one "?", however many bytes UTF-8 needs for it.
        SKeyCase{"Müller", "M?ller                  "}, SKeyCase{"Maß€𝄞", "Ma???                   "},
        // The limit counts characters, not bytes.
        SKeyCase{"äääääääääääääääääääääääää", "????????????????????????"},
        SKeyCase{"ääääääääääääääääääääääab", "??????????????????????ab"},
        // Bytes outside a valid UTF-8 sequence count one each: a lone continuation byte, a
        // truncated sequence, an overlong form, an encoded surrogate.
        SKeyCase{"a\x80z", "a?z                     "}, SKeyCase{"a\xC3", "a?                      "},
        SKeyCase{"\xE2\x82z", "??z                     "},
        SKeyCase{"\xC0\xAF!", "?"
                              "?!                     "},
        SKeyCase{"\xED\xA0\x80.", "???.                    "},
        // Control characters are ASCII and stay as they are.
        SKeyCase{std::string("a\0b", 3), std::string("a\0b", 3) + std::string(21, ' ')}));

TEST(TripleDesKey, IsWipedWhenDestroyed)
{
    alignas(CTripleDesKey) unsigned char storage[sizeof(CTripleDesKey)];
    auto* pKey = new (storage) CTripleDesKey(DeriveKey("geheim"));
    ASSERT_EQ(pKey->Bytes()[0], 'g');
    pKey->~CTripleDesKey();
    for (const unsigned char byte : storage)
        EXPECT_EQ(byte, 0);
}

} // namespace
} // namespace brasko
