#include "Plausibility.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace brasko {
namespace {

using test::CTempDir;
using test::GermanText;
using test::RandomBytes;

SPlausibility Judge(const std::string& strBytes)
{
    return JudgePlaintext({reinterpret_cast<const unsigned char*>(strBytes.data()), strBytes.size()});
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
        const std::size_t nSize = 64 + (std::size_t{nSeed} * 7919) % (kPlausibilitySampleSize - 64);
        nMissed += Judge(RandomBytes(nSize, nSeed)).verdict != EPlausibility::LooksRandom ? 1 : 0;
    }
    EXPECT_LE(nMissed, 1);
}

// Asking for the verdict alone, and collecting the sample in pieces or judging it where it lies, gives the
// verdicts of the full judgement: for content decided by its start, for content whose start looks random
// and the rest does not, and for random bytes.
TEST(Plausibility, JudgePlaintext_VerdictAloneAndPiecesAgree)
{
    const std::string strRandom = RandomBytes(kPlausibilitySampleSize, 5);
    const struct
    {
        const char* pszCase;
        std::string strBytes;
    } cases[] = {
        {"text", GermanText(kPlausibilitySampleSize + 100)},
        {"short text", GermanText(3000)},
        {"random start, text after it",
         strRandom.substr(0, kPlausibilityFirstSampleSize) + GermanText(kPlausibilitySampleSize)},
        {"random", strRandom},
        {"short random", strRandom.substr(0, 1000)},
    };
    for (const auto& c : cases) {
        const auto* pBytes = reinterpret_cast<const unsigned char*>(c.strBytes.data());
        const SPlausibility full = Judge(c.strBytes);
        EXPECT_EQ(JudgePlaintext({pBytes, c.strBytes.size()}, EPlausibilityDetail::Verdict).verdict,
                  full.verdict)
            << c.pszCase;
        CPlaintextSample whole(EPlausibilityDetail::Description);
        whole.Append(pBytes, c.strBytes.size());
        EXPECT_EQ(whole.Judge().verdict, full.verdict) << c.pszCase;
        EXPECT_EQ(whole.Judge().strDescription, full.strDescription) << c.pszCase;
        CPlaintextSample pieces(EPlausibilityDetail::Verdict);
        for (std::size_t i = 0; i < c.strBytes.size(); i += 4099)
            pieces.Append(pBytes + i, std::min<std::size_t>(4099, c.strBytes.size() - i));
        EXPECT_EQ(pieces.Judge().verdict, full.verdict) << c.pszCase;
    }
    EXPECT_EQ(Judge(cases[2].strBytes).verdict, EPlausibility::Plausible);
    EXPECT_EQ(Judge(cases[3].strBytes).verdict, EPlausibility::LooksRandom);
}

} // namespace
} // namespace brasko
