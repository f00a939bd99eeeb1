#include "DecryptStream.h"
#include "FileDecryptor.h"
#include "Messages.h"
#include "TripleDes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CRecordingMessageSink;
using test::CTempDir;
using test::ExpectedPlaintext;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

const std::string kDataDir = BRASKO_TEST_DATA_DIR;

// The key the old tool made: the password's characters over 24 blanks, written out by hand.
std::string Blanked(const std::string& strKeyText)
{
    return strKeyText + std::string(24 - strKeyText.size(), ' ');
}

class DecryptFileTest : public ::testing::Test
{
protected:
    // Decrypts dir/name under the template; the output's bytes, or "<missing>".
    std::string Decrypt(const std::string& strName, const std::string& strPassword, int& nResult,
                        const CFileDecryptor& decryptor = CFileDecryptor("e_", "", ""))
    {
        const std::string strOutput = decryptor.BuildOutputPath(m_dir / strName);
        nResult = decryptor
                          .Decrypt({.strInputPath = m_dir / strName,
                                    .strOutputPath = strOutput,
                                    .cipher = PrepareCipher(strPassword),
                                    .messages = m_messages,
                                    .onInputOpened = [this] { ++m_nOpened; }})
                          .Succeeded()
                      ? 0
                      : 1;
        return fs::is_regular_file(strOutput) ? ReadFileBytes(strOutput) : "<missing>";
    }

    CTempDir m_dir;
    CRecordingMessageSink m_messages;
    int m_nOpened = 0; // times the decryptor said an input was open
};

TEST_F(DecryptFileTest, DecryptFile_MatchesCommittedFixtures)
{
    fs::copy_file(kDataDir + "/sample.enc", m_dir / "sample.enc");
    fs::copy_file(kDataDir + "/short13.enc", m_dir / "short13.enc");
    int nResult = -1;
    EXPECT_EQ(Decrypt("sample.enc", "geheim", nResult), ReadFileBytes(kDataDir + "/sample.txt"));
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(Decrypt("short13.enc", "geheim", nResult), ReadFileBytes(kDataDir + "/short13.expected"));
    EXPECT_EQ(nResult, 0);
    EXPECT_TRUE(m_messages.m_messages.empty());
}

// Sizes around the 8-byte block and the chunk, each a short final chunk or none.
TEST_F(DecryptFileTest, DecryptFile_MatchesOracleForEverySize)
{
    const std::string strKey = Blanked("Passwort");
    constexpr std::size_t kChunk = kChunkSize;
    const std::string strBig = OpenSslEncrypt(strKey, RandomBytes(3 * kChunk + 64, 7));
    for (const std::size_t nSize :
         {0UL, 1UL, 7UL, 8UL, 9UL, 13UL, 16UL, 63UL, 4096UL, kChunk - 8, kChunk - 1, kChunk, kChunk + 1,
          kChunk + 7, kChunk + 8, 2 * kChunk + 5, 3 * kChunk + 61}) {
        SCOPED_TRACE(nSize);
        const std::string strCipher = strBig.substr(0, nSize);
        WriteFileBytes(m_dir / "in.bin", strCipher);
        int nResult = -1;
        const std::string strOut = Decrypt("in.bin", "Passwort", nResult);
        EXPECT_EQ(nResult, 0);
        ASSERT_EQ(strOut.size(), nSize);
        EXPECT_TRUE(strOut == ExpectedPlaintext(strKey, strCipher));
    }
    EXPECT_TRUE(m_messages.m_messages.empty());
}

TEST_F(DecryptFileTest, DecryptFile_EqualBlocksGiveEqualPlaintext)
{
    const std::string strKey = Blanked("abc");
    const std::string strBlock = OpenSslEncrypt(strKey, "12345678");
    WriteFileBytes(m_dir / "twice.bin", strBlock + strBlock);
    int nResult = -1;
    EXPECT_EQ(Decrypt("twice.bin", "abc", nResult), "1234567812345678");
}

struct SPasswordCase
{
    const char* pszPassword;
    std::string strKey; // as the old tool built it, written out
};

// Passwords of every length class and with non-ASCII characters, against ciphertext under the written-out
// key.
TEST_F(DecryptFileTest, DecryptFile_UsesKeyOfPassword)
{
    const std::string strPlain = RandomBytes(8 * 40 + 5, 11);
    for (const SPasswordCase& c :
         {SPasswordCase{"", Blanked("")}, SPasswordCase{"kurz", Blanked("kurz")},
          SPasswordCase{"genau8ch", Blanked("genau8ch")},
          SPasswordCase{"neunzehn Zeichen!!", Blanked("neunzehn Zeichen!!")},
          SPasswordCase{"zweiundzwanzig Zeichen", Blanked("zweiundzwanzig Zeichen")},
          SPasswordCase{"vierundzwanzig Zeichen!!", "vierundzwanzig Zeichen!!"},
          SPasswordCase{"vierundzwanzig Zeichen!! und mehr", "vierundzwanzig Zeichen!!"},
          SPasswordCase{"Müller", Blanked("M?ller")}, SPasswordCase{"Größe ß", Blanked("Gr??e ?")}}) {
        SCOPED_TRACE(c.pszPassword);
        const std::string strCipher = OpenSslEncrypt(c.strKey, strPlain.substr(0, 320));
        WriteFileBytes(m_dir / "p.bin", strCipher);
        int nResult = -1;
        EXPECT_EQ(Decrypt("p.bin", c.pszPassword, nResult), strPlain.substr(0, 320));
        EXPECT_EQ(nResult, 0);
    }
}

TEST_F(DecryptFileTest, DecryptFile_PasswordsEqualUpToIgnoredBitsGiveSameOutput)
{
    const std::string strCipher = RandomBytes(100, 3);
    WriteFileBytes(m_dir / "x.bin", strCipher);
    int nResult = -1;
    // b and c differ only in the lowest bit, which DES ignores.
    const std::string strB = Decrypt("x.bin", "abba", nResult);
    EXPECT_EQ(Decrypt("x.bin", "acca", nResult), strB);
    // Non-ASCII characters all become "?".
    const std::string strUmlaut = Decrypt("x.bin", "Mäß", nResult);
    EXPECT_EQ(Decrypt("x.bin", "Mü€", nResult), strUmlaut);
    EXPECT_EQ(Decrypt("x.bin", "M??", nResult), strUmlaut);
    EXPECT_NE(Decrypt("x.bin", "abda", nResult), strB);
}

TEST_F(DecryptFileTest, DecryptFile_WrongPasswordGivesGarbageOfSameLength)
{
    const std::string strPlain = RandomBytes(64, 5);
    WriteFileBytes(m_dir / "w.bin", OpenSslEncrypt(Blanked("richtig"), strPlain));
    int nResult = -1;
    const std::string strOut = Decrypt("w.bin", "falsch", nResult);
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(strOut.size(), strPlain.size());
    EXPECT_NE(strOut, strPlain);
}

TEST_F(DecryptFileTest, DecryptFile_MissingInputIsReportedWithPathAsGiven)
{
    const CFileDecryptor decryptor("e_", "", "");
    const std::string strPath = m_dir / "sub/../fehlt.bin";
    const SDecryptOutcome outcome = decryptor.Decrypt({.strInputPath = strPath,
                                                       .strOutputPath = decryptor.BuildOutputPath(strPath),
                                                       .cipher = PrepareCipher("x"),
                                                       .messages = m_messages,
                                                       .onInputOpened = [this] { ++m_nOpened; }});
    EXPECT_EQ(outcome.error, EDecryptError::InputMissing);
    EXPECT_EQ(m_nOpened, 0);
    ASSERT_EQ(m_messages.m_messages.size(), 1U);
    EXPECT_EQ(m_messages.m_messages[0].first, "Die Datei '" + strPath + "' kann nicht gefunden werden !");
    EXPECT_EQ(m_messages.m_messages[0].second, EMessageIcon::Default);
    EXPECT_TRUE(m_dir.List().empty());
}

// The front end hears once that the input is open (it writes its trace line then); the core writes nothing.
TEST_F(DecryptFileTest, DecryptFile_TellsOnceWhenTheInputIsOpen)
{
    WriteFileBytes(m_dir / "t.bin", "");
    int nResult = -1;
    testing::internal::CaptureStdout();
    Decrypt("t.bin", "", nResult);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(m_nOpened, 1);
    // An empty input gives an empty output.
    EXPECT_EQ(ReadFileBytes(m_dir / "e_t.bin"), "");
}

// Inputs that are not regular files cannot be opened: the message, no output, no trace line, and no wait
// for a writer on a pipe. Nor can the files of /proc and /sys, whose reads may wait for good (/proc/kmsg).
TEST_F(DecryptFileTest, DecryptFile_RefusesInputThatIsNoRegularFile)
{
    fs::create_directory(m_dir / "ordner");
    ASSERT_EQ(::mkfifo((m_dir / "rohr").c_str(), 0600), 0);
    const CFileDecryptor decryptor("e_", "", "");
    const struct
    {
        std::string strPath;
        EDecryptError error;
    } cases[] = {
        {m_dir / "ordner", EDecryptError::InputNotRegular},
        {m_dir / "rohr", EDecryptError::InputNotRegular},
        {"/dev/null", EDecryptError::InputNotRegular},
        {"/proc/self/mem", EDecryptError::InputOnPseudoFileSystem},
        {"/sys/kernel/uevent_seqnum", EDecryptError::InputOnPseudoFileSystem},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strPath);
        CRecordingMessageSink messages;
        const SDecryptOutcome outcome =
            decryptor.Decrypt({.strInputPath = c.strPath,
                               .strOutputPath = decryptor.BuildOutputPath(c.strPath),
                               .cipher = PrepareCipher("x"),
                               .messages = messages,
                               .onInputOpened = [this] { ++m_nOpened; }});
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(m_nOpened, 0);
        ASSERT_EQ(messages.m_messages.size(), 1U);
        EXPECT_EQ(messages.m_messages[0].first, messages::FileNotFound(c.strPath));
    }
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"ordner", "rohr"}));
    EXPECT_FALSE(fs::exists("/dev/e_null"));
}

TEST_F(DecryptFileTest, DecryptFile_ReplacesExistingOutputKeepingItsPermissions)
{
    const std::string strPlain = RandomBytes(24, 9);
    WriteFileBytes(m_dir / "r.bin", OpenSslEncrypt(Blanked("pw"), strPlain));
    WriteFileBytes(m_dir / "e_r.bin", "an older, much longer output that must go entirely");
    fs::permissions(m_dir / "e_r.bin", fs::perms(0640));
    int nResult = -1;
    EXPECT_EQ(Decrypt("r.bin", "pw", nResult), strPlain);
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(fs::status(m_dir / "e_r.bin").permissions(), fs::perms(0640));
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"e_r.bin", "r.bin"}));
}

// The output path reaches the input itself: through "..", through a symbolic link, or as a hard link.
TEST_F(DecryptFileTest, DecryptFile_RefusesOutputThatIsTheInput)
{
    const std::string strCipher = RandomBytes(40, 2);
    WriteFileBytes(m_dir / "a.bin", strCipher);
    const std::string strFolder = m_dir.Path().filename().string();
    fs::create_symlink(m_dir / "a.bin", m_dir / "e_b.bin");
    WriteFileBytes(m_dir / "b.bin", strCipher);
    fs::create_hard_link(m_dir / "b.bin", m_dir / "c.bin");
    fs::create_hard_link(m_dir / "b.bin", m_dir / "e_c.bin");
    fs::remove(m_dir / "b.bin");
    fs::create_symlink(m_dir / "a.bin", m_dir / "b.bin"); // e_b.bin -> a.bin, b.bin -> a.bin

    const std::vector<std::string> before = m_dir.List();
    for (const auto& [strName, decryptor] :
         {std::pair{std::string("a.bin"), CFileDecryptor("../" + strFolder + "/", "", "")},
          std::pair{std::string("b.bin"), CFileDecryptor("e_", "", "")},
          std::pair{std::string("c.bin"), CFileDecryptor("e_", "", "")}}) {
        SCOPED_TRACE(strName);
        testing::internal::CaptureStdout();
        EXPECT_EQ(decryptor.DecryptFile(m_dir / strName, "pw", m_messages), 1);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(ReadFileBytes(m_dir / strName), strCipher);
    }
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_EQ(m_dir.List(), before);
}

TEST_F(DecryptFileTest, DecryptFile_WritesThroughSymbolicLinkAtOutput)
{
    const std::string strPlain = RandomBytes(32, 4);
    WriteFileBytes(m_dir / "s.bin", OpenSslEncrypt(Blanked("pw"), strPlain));
    fs::create_directory(m_dir / "ziel");
    WriteFileBytes(m_dir / "ziel/klar.bin", "old");
    fs::create_symlink("ziel/klar.bin", m_dir / "e_s.bin");
    int nResult = -1;
    EXPECT_EQ(Decrypt("s.bin", "pw", nResult), strPlain);
    EXPECT_EQ(nResult, 0);
    EXPECT_TRUE(fs::is_symlink(m_dir / "e_s.bin"));
    EXPECT_EQ(ReadFileBytes(m_dir / "ziel/klar.bin"), strPlain);
}

// A folder, a pipe or a read-only file at the output path is a failure and stays as it is.
TEST_F(DecryptFileTest, DecryptFile_RefusesOutputThatCannotBeReplaced)
{
    WriteFileBytes(m_dir / "d.bin", RandomBytes(16, 1));
    WriteFileBytes(m_dir / "p.bin", RandomBytes(16, 1));
    WriteFileBytes(m_dir / "r.bin", RandomBytes(16, 1));
    fs::create_directory(m_dir / "e_d.bin");
    ASSERT_EQ(::mkfifo((m_dir / "e_p.bin").c_str(), 0600), 0);
    WriteFileBytes(m_dir / "e_r.bin", "schreibgeschützt");
    fs::permissions(m_dir / "e_r.bin", fs::perms(0444));
    const std::vector<std::string> before = m_dir.List();
    for (const char* pszName : {"d.bin", "p.bin", "r.bin"}) {
        SCOPED_TRACE(pszName);
        int nResult = -1;
        m_nOpened = 0;
        Decrypt(pszName, "pw", nResult);
        EXPECT_EQ(m_nOpened, 1);
        EXPECT_EQ(nResult, 1);
    }
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_EQ(m_dir.List(), before);
    EXPECT_TRUE(fs::is_directory(m_dir / "e_d.bin"));
    EXPECT_TRUE(fs::is_fifo(m_dir / "e_p.bin"));
    EXPECT_EQ(ReadFileBytes(m_dir / "e_r.bin"), "schreibgeschützt");
}

TEST_F(DecryptFileTest, DecryptFile_OutputInMissingFolderFails)
{
    WriteFileBytes(m_dir / "m.bin", RandomBytes(16, 1));
    int nResult = -1;
    EXPECT_EQ(Decrypt("m.bin", "pw", nResult, CFileDecryptor("nirgends/", "", "")), "<missing>");
    EXPECT_EQ(nResult, 1);
}

// /proc/self/mem is a regular file whose first page cannot be read: a real read error.
TEST_F(DecryptFileTest, DecryptFile_ReadErrorIsFailure)
{
    const CFileDecryptor decryptor("../.." + m_dir.Path().string() + "/e_", "", "");
    // Opened here: the decryptor refuses /proc by its path.
    const CFileHandle memory(::open("/proc/self/mem", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(memory);
    testing::internal::CaptureStdout();
    const SDecryptOutcome outcome =
        decryptor.Decrypt({.strInputPath = "/proc/self/mem",
                           .strOutputPath = decryptor.BuildOutputPath("/proc/self/mem"),
                           .cipher = PrepareCipher("pw"),
                           .messages = m_messages,
                           .fdInput = memory.Get()});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome.error, EDecryptError::Read);
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_TRUE(m_dir.List().empty());
}

} // namespace
} // namespace brasko
