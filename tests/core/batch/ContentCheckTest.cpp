#include "ContentCheck.h"

#include "FileDecryptor.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace brasko {
namespace {

using test::CTempDir;
using test::GermanText;
using test::RandomBytes;

const std::string kKey = "geheim" + std::string(18, ' ');
const std::string kWrongKey = "gehein" + std::string(18, ' ');

SPlausibility Judge(const std::string& strBytes)
{
    return JudgePlaintext({reinterpret_cast<const unsigned char*>(strBytes.data()), strBytes.size()});
}

// The decryptor judges what it wrote when asked, on one thread and on several; --check judges the same start
// in memory and writes nothing. The ciphertext comes from openssl.
TEST(Plausibility, DecryptFileAndCheckFileContent_JudgeTheStartOfThePlaintext)
{
    const CTempDir dir;
    test::CRecordingMessageSink messages;
    const struct
    {
        const char* pszCase;
        std::string strPlain;
        std::string strKey;
        EPlausibility verdict;
    } cases[] = {
        {"text, right key", GermanText(1000), kKey, EPlausibility::Plausible},
        {"text, wrong key", GermanText(1000), kWrongKey, EPlausibility::LooksRandom},
        // Random after its first chunk: only the start counts.
        {"two chunks, right key", GermanText(std::size_t{256} << 10) + RandomBytes(std::size_t{256} << 10, 3),
         kKey, EPlausibility::Plausible},
        {"two chunks, wrong key", GermanText(std::size_t{512} << 10), kWrongKey, EPlausibility::LooksRandom},
        {"56 bytes", GermanText(56), kKey, EPlausibility::TooShort},
        // The first 4 KiB leave the verdict open; the rest of the sample decides it.
        {"random start, then text", RandomBytes(4096, 4) + GermanText(60000), kKey, EPlausibility::Plausible},
        {"just over 4 KiB, wrong key", GermanText(4104), kWrongKey, EPlausibility::LooksRandom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const std::string strCipher = test::OpenSslEncrypt(c.strKey, c.strPlain);
        test::WriteFileBytes(dir / "in.enc", strCipher);
        for (const unsigned nJobs : {1U, 2U}) {
            CFileDecryptor decryptor("e_", "", "");
            decryptor.m_bCheckPlaintext = true;
            const SDecryptOutcome outcome =
                decryptor.Decrypt({.strInputPath = dir / "in.enc",
                                   .strOutputPath = decryptor.BuildOutputPath(dir / "in.enc"),
                                   .cipher = PrepareCipher("geheim"),
                                   .messages = messages,
                                   .nJobs = nJobs});
            ASSERT_TRUE(outcome.Succeeded());
            EXPECT_EQ(outcome.plausibility.verdict, c.verdict) << nJobs;
        }
        std::filesystem::remove(dir / "e_in.enc");
        const SDecryptOutcome checked = CheckFileContent(dir / "in.enc", "geheim", messages);
        ASSERT_TRUE(checked.Succeeded());
        EXPECT_EQ(checked.plausibility.verdict, c.verdict);
        const SDecryptOutcome verdictOnly =
            CheckFileContent(dir / "in.enc", "geheim", messages, {}, EPlausibilityDetail::Verdict);
        ASSERT_TRUE(verdictOnly.Succeeded());
        EXPECT_EQ(verdictOnly.plausibility.verdict, c.verdict);
        EXPECT_EQ(dir.List(), std::vector<std::string>{"in.enc"});
    }
    // Not asked, no verdict.
    const CFileDecryptor decryptor("e_", "", "");
    const SDecryptOutcome unchecked =
        decryptor.Decrypt({.strInputPath = dir / "in.enc",
                           .strOutputPath = decryptor.BuildOutputPath(dir / "in.enc"),
                           .cipher = PrepareCipher("x"),
                           .messages = messages});
    EXPECT_EQ(unchecked.plausibility.verdict, EPlausibility::NotChecked);
    EXPECT_TRUE(messages.m_messages.empty());
}

// A short final chunk is decrypted laid over the previous block, as DecryptFile does it: the sample --check
// judges is the oracle's plaintext.
TEST(Plausibility, CheckFileContent_SeesTheShortFinalChunkAndReportsMissingFiles)
{
    const CTempDir dir;
    test::CRecordingMessageSink messages;
    // Text, then 5 bytes that decrypt to something else than text: they change the verdict's description.
    const std::string strText = GermanText(96);
    const std::string strCipher = test::OpenSslEncrypt(kKey, strText) + "ABCDE";
    test::WriteFileBytes(dir / "tail.enc", strCipher);
    const std::string strExpected = test::ExpectedPlaintext(kKey, strCipher);
    ASSERT_NE(Judge(strExpected).strDescription, Judge(strText).strDescription);
    EXPECT_EQ(CheckFileContent(dir / "tail.enc", "geheim", messages).plausibility.strDescription,
              Judge(strExpected).strDescription);

    const SDecryptOutcome missing = CheckFileContent(dir / "fehlt.enc", "geheim", messages);
    EXPECT_EQ(missing.error, EDecryptError::InputMissing);
    EXPECT_EQ(messages.m_messages.size(), 1U);
}

} // namespace
} // namespace brasko
