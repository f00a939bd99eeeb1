#include "cli/CliMessages.h"
#include "Messages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace brasko {
namespace {

namespace climsg = cli::messages;
using test::Lines;
using test::RunCli;
using test::SCliOptions;
using test::SCliResult;
using Names = std::vector<std::string>;

const std::string kKey = "geheim" + std::string(18, ' ');
const std::string kRandom = "sieht zufällig aus (falsches Kennwort?)";

class CheckCliTest : public ::testing::Test
{
protected:
    CheckCliTest()
    {
        std::string strText;
        for (int i = 0; strText.size() < 3000; ++i)
            strText += "Posten " + std::to_string(i) + ";Menge " + std::to_string(i % 13) + ";Preis\n";
        strText.resize(2400);
        m_strTextCipher = test::OpenSslEncrypt(kKey, strText);
        test::WriteFileBytes(m_dir / "text.enc", m_strTextCipher);
        test::WriteFileBytes(m_dir / "kurz.enc", test::OpenSslEncrypt(kKey, "nur 16 Zeichen.\n"));
        test::WriteFileBytes(m_dir / "pw", "geheim\n");
        // Not "geheim!": DES ignores the lowest bit of each key byte, and "!" differs from the blank only
        // there.
        test::WriteFileBytes(m_dir / "falsch", "Geheim\n");
    }

    SCliResult Run(std::vector<std::string> args) const
    {
        SCliOptions options;
        options.strWorkDir = m_dir.Path().string();
        return RunCli(args, {}, options);
    }

    test::CTempDir m_dir;
    std::string m_strTextCipher;
};

// After each decrypted file whose content looks random, a warning on stderr; the exit status is unchanged.
TEST_F(CheckCliTest, Warning_AfterRandomLookingOutputUnlessNoCheck)
{
    const std::string strOutput = (m_dir / "e_text.enc");
    const std::string strWarning = climsg::ContentLooksRandom(strOutput);
    const struct
    {
        const char* pszCase;
        std::vector<std::string> args;
        std::string strStderr;
    } cases[] = {
        {"right password",
         {"--password-file", "pw", "-q", "text.enc", "kurz.enc"},
         Lines({messages::kBatchSucceeded})},
        {"wrong password",
         {"--password-file", "falsch", "-q", "text.enc", "kurz.enc"},
         Lines({strWarning, messages::kBatchSucceeded})},
        {"wrong password, --no-check",
         {"--password-file", "falsch", "-q", "--no-check", "text.enc"},
         Lines({messages::kBatchSucceeded})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const SCliResult result = Run(c.args);
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_EQ(result.strStderr, c.strStderr);
        EXPECT_EQ(test::ReadFileBytes(strOutput).size(), m_strTextCipher.size());
        std::filesystem::remove(strOutput);
    }
}

// --check decrypts the start of each file in memory, names what it looks like and writes nothing.
TEST_F(CheckCliTest, Check_NamesEachFileWritesNothingAndTellsByExitStatus)
{
    const struct
    {
        const char* pszCase;
        std::vector<std::string> args;
        int nExitStatus;
        std::string strStdout;
        std::string strStderr;
    } cases[] = {
        {"right password",
         {"--password-file", "pw", "--check", "text.enc", "kurz.enc"},
         0,
         Lines({"text.enc: Text (ASCII)", "kurz.enc: zu kurz für eine Prüfung (weniger als 64 Byte)"}),
         ""},
        {"wrong password",
         {"--password-file", "falsch", "--check", "kurz.enc", "text.enc"},
         3,
         Lines({"kurz.enc: zu kurz für eine Prüfung (weniger als 64 Byte)", "text.enc: " + kRandom}),
         ""},
        {"a file missing",
         {"--password-file", "falsch", "--check", "fehlt.enc", "text.enc"},
         1,
         Lines({"text.enc: " + kRandom}),
         Lines({messages::FileNotFound("fehlt.enc")})},
        {"no files", {"--check"}, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const SCliResult result = Run(c.args);
        EXPECT_EQ(result.nExitStatus, c.nExitStatus);
        EXPECT_EQ(result.strStdout, c.strStdout);
        EXPECT_EQ(result.strStderr, c.strStderr);
        EXPECT_EQ(m_dir.List(), (Names{"falsch", "kurz.enc", "pw", "text.enc"}));
    }
}

TEST_F(CheckCliTest, Check_ExclusiveWithNoCheckAndDocumentedInHelp)
{
    const SCliResult both = Run({"--check", "--no-check", "text.enc"});
    EXPECT_EQ(both.nExitStatus, 2);
    EXPECT_EQ(both.strStderr,
              Lines({std::string(climsg::kProgramName) + ": " + climsg::kCheckOptionsExclusive,
                     climsg::kUsageHint}));
    const SCliResult help = Run({"--help"});
    EXPECT_NE(help.strStdout.find("--check"), std::string::npos);
    EXPECT_NE(help.strStdout.find("--no-check"), std::string::npos);
    EXPECT_NE(help.strStdout.find("3, wenn mindestens eine zufällig"), std::string::npos);
}

} // namespace
} // namespace brasko
