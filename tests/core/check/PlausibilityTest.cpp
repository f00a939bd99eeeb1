#include "Plausibility.h"

#include "ContentCheck.h"
#include "FileDecryptor.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace brasko {
namespace {

using test::CTempDir;
using test::RandomBytes;

const std::string kKey = "geheim" + std::string(18, ' ');
const std::string kWrongKey = "gehein" + std::string(18, ' ');

SPlausibility Judge(const std::string& strBytes)
{
    return JudgePlaintext({reinterpret_cast<const unsigned char*>(strBytes.data()), strBytes.size()});
}

std::string GermanText(std::size_t nSize)
{
    std::string strText;
    for (int i = 0; strText.size() < nSize; ++i)
        strText += "Zeile " + std::to_string(i) + ": Die Umsätze stiegen um " + std::to_string(i * 7 % 100) +
                   " Prozent; Grüße aus Köln.\n";
    strText.resize(nSize);
    return strText;
}

std::string WithAt(std::string strBytes, std::size_t nOffset, const std::string& strMagic)
{
    strBytes.replace(nOffset, strMagic.size(), strMagic);
    return strBytes;
}

// The output of a real tool, as a file holds it.
std::string Made(const std::string& strCommand, const std::string& strInput)
{
    const CTempDir dir;
    test::WriteFileBytes(dir / "in", strInput);
    EXPECT_EQ(test::RunShell("cd '" + dir.Path().string() + "' && " + strCommand + " > out"), 0)
        << strCommand;
    return test::ReadFileBytes(dir / "out");
}

TEST(Plausibility, JudgePlaintext_TellsRealContentFromRandomBytes)
{
    const std::string strRandom = RandomBytes(kPlausibilitySampleSize, 11);
    std::string strLatin1 = GermanText(2000);
    for (char& c : strLatin1) {
        if (c == '\xC3') // "ä", "ü", "ö" in UTF-8 become one byte each, as in ISO-8859-1
            c = '\x7F';
    }
    std::erase(strLatin1, '\x7F');
    const struct
    {
        const char* pszCase;
        std::string strBytes;
        EPlausibility verdict;
        std::string strDescription;
    } cases[] = {
        {"ASCII text", "cmake -S . -B build\nninja -C build\n" + std::string(100, '=') + "\n",
         EPlausibility::Plausible, "Text (ASCII)"},
        {"UTF-8 text", GermanText(5000), EPlausibility::Plausible, "Text (UTF-8)"},
        {"UTF-8 text of 64 bytes", GermanText(64), EPlausibility::Plausible, "Text (UTF-8)"},
        {"Latin-1 text", strLatin1, EPlausibility::Plausible, "Text (ISO-8859-1/Windows-1252)"},
        {"XML", "<?xml version=\"1.0\"?>\n<liste>" + GermanText(500) + "</liste>", EPlausibility::Plausible,
         "XML-Dokument"},
        {"this program", test::ReadFileBytes("/proc/self/exe").substr(0, kPlausibilitySampleSize),
         EPlausibility::Plausible, "ELF-Programm oder -Bibliothek"},
        {"gzip", Made("gzip -c in", strRandom), EPlausibility::Plausible, "gzip-komprimierte Daten"},
        {"bzip2", Made("bzip2 -c in", strRandom), EPlausibility::Plausible, "bzip2-komprimierte Daten"},
        {"xz", Made("xz -c in", strRandom), EPlausibility::Plausible, "xz-komprimierte Daten"},
        {"tar of random bytes", Made("tar cf - in", strRandom), EPlausibility::Plausible, "tar-Archiv"},
        // Known to libmagic only, at a place far from the start.
        {"ISO 9660",
         WithAt(strRandom, 32768,
                std::string("\x01"
                            "CD001\x01",
                            7)),
         EPlausibility::Plausible, "CD/DVD-Abbild (ISO 9660)"},
        // Keys have no fixed signature, but a chain of packets: key, user ID, signature.
        {"OpenPGP key",
         std::string("\x99\x01\x0D\x04", 4) + RandomBytes(268, 15) + std::string("\xB4\x16", 2) +
             "Erika Muster <e@de.de>" + std::string("\x89\x02\x00", 3) + RandomBytes(512, 16),
         EPlausibility::Plausible, "OpenPGP-Schlüssel oder -Nachricht"},
        {"random 64 KiB", strRandom, EPlausibility::LooksRandom, "sieht zufällig aus (falsches Kennwort?)"},
        {"random 64 bytes", RandomBytes(64, 12), EPlausibility::LooksRandom,
         "sieht zufällig aus (falsches Kennwort?)"},
        // A weak signature (two bytes that libmagic calls a DOS program) does not vouch for random bytes.
        {"random after MZ", WithAt(strRandom, 0, "MZ"), EPlausibility::LooksRandom,
         "sieht zufällig aus (falsches Kennwort?)"},
        // A file of zeros under a wrong key: one random block, repeated.
        {"random block repeated",
         [] {
             std::string strBlocks;
             for (int i = 0; i < 1000; ++i)
                 strBlocks += RandomBytes(8, 13);
             return strBlocks;
         }(),
         EPlausibility::LooksRandom, "sieht zufällig aus (falsches Kennwort?)"},
        {"zeros", std::string(4096, '\0'), EPlausibility::Plausible, "Binärdaten"},
        {"63 bytes", RandomBytes(63, 14), EPlausibility::TooShort,
         "zu kurz für eine Prüfung (weniger als 64 Byte)"},
        {"empty", "", EPlausibility::TooShort, "zu kurz für eine Prüfung (weniger als 64 Byte)"},
    };
    for (const auto& c : cases) {
        const SPlausibility judged = Judge(c.strBytes);
        EXPECT_EQ(judged.verdict, c.verdict) << c.pszCase;
        EXPECT_EQ(judged.strDescription, c.strDescription) << c.pszCase;
    }
}

// The verdict on random bytes holds for nearly every sample, of any length.
TEST(Plausibility, JudgePlaintext_FlagsRandomBytesOfAnyLength)
{
    int nMissed = 0;
    for (unsigned nSeed = 0; nSeed < 400; ++nSeed) {
        const std::size_t nSize = 64 + (nSeed * 7919) % (kPlausibilitySampleSize - 64);
        nMissed += Judge(RandomBytes(nSize, nSeed)).verdict != EPlausibility::LooksRandom ? 1 : 0;
    }
    EXPECT_LE(nMissed, 1);
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
