#include "DecryptStream.h"
#include "Messages.h"
#include "cli/CliMessages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brasko {
namespace {

namespace fs = std::filesystem;
namespace climsg = cli::messages;
using test::CTempDir;
using test::ExpectedPlaintext;
using test::Lines;
using test::RandomBytes;
using test::ReadFileBytes;
using test::RunCli;
using test::SCliOptions;
using test::SCliResult;
using test::ToHex;
using test::WriteFileBytes;

const std::string kKey = "geheim                  ";
const std::string kTrace = std::string(messages::kTraceLine) + "\n";

std::string ProgramLine(const std::string& strText)
{
    return std::string(climsg::kProgramName) + ": " + strText;
}

class PipeTest : public ::testing::Test
{
protected:
    SCliOptions InDir() const
    {
        SCliOptions options;
        options.strWorkDir = m_dir.Path().string();
        return options;
    }

    CTempDir m_dir;
};

// "-" reads standard input, -c writes standard output, -o names the output: each alone and together, for
// lengths around a whole block and around the chunk the input is read in, against openssl's plaintext. With
// -c standard output holds the plaintext alone, even with -v.
TEST_F(PipeTest, StdinStdoutAndOutputFile_MatchOpenSslAroundTheFinalChunk)
{
    WriteFileBytes(m_dir / "kennwort", "geheim\n");
    for (const std::size_t nSize :
         {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9}, std::size_t{15},
          std::size_t{16}, std::size_t{17}, kChunkSize - 1, kChunkSize, kChunkSize + 1}) {
        const std::string strCipher = RandomBytes(nSize, static_cast<unsigned>(nSize) + 1);
        const std::string strPlain = ExpectedPlaintext(kKey, strCipher);
        WriteFileBytes(m_dir / "a.bin", strCipher);
        for (const bool bFromStdin : {true, false}) {
            for (const bool bToStdout : {true, false}) {
                SCOPED_TRACE(std::to_string(nSize) +
                             (bFromStdin ? " bytes from stdin" : " bytes from a file") +
                             (bToStdout ? " to stdout" : " to a file"));
                fs::remove(m_dir / "klar.txt");
                std::vector<std::string> args = {"--no-check", "--password-file", "kennwort"};
                if (bToStdout)
                    args.insert(args.end(), {"-v", "-c"});
                else
                    args.insert(args.end(), {"-o", "klar.txt"});
                args.emplace_back(bFromStdin ? "-" : "a.bin");
                const SCliResult result = RunCli(args, bFromStdin ? strCipher : std::string(), InDir());
                EXPECT_EQ(result.nExitStatus, 0);
                EXPECT_EQ(result.strStderr, Lines({messages::kBatchSucceeded}));
                if (bToStdout) {
                    EXPECT_EQ(ToHex(result.strStdout), ToHex(strPlain));
                    EXPECT_FALSE(fs::exists(m_dir / "klar.txt"));
                } else {
                    EXPECT_EQ(result.strStdout, kTrace);
                    EXPECT_EQ(ToHex(ReadFileBytes(m_dir / "klar.txt")), ToHex(strPlain));
                }
                EXPECT_EQ(ReadFileBytes(m_dir / "a.bin"), strCipher);
            }
        }
    }
}

// Every call that cannot say where one input's plaintext goes, or would read standard input twice, is
// refused before anything is read or written.
TEST_F(PipeTest, SingleOutput_RefusedCombinations)
{
    WriteFileBytes(m_dir / "kennwort", "geheim\n");
    WriteFileBytes(m_dir / "a.bin", RandomBytes(16, 1));
    WriteFileBytes(m_dir / "b.bin", RandomBytes(16, 2));
    const std::string strHint = climsg::kUsageHint;
    struct SCase
    {
        std::vector<std::string> args;
        std::string strStderr;
        bool bTerminal = false;
    };
    const std::vector<SCase> cases = {
        {{"--password-file", "kennwort", "-"}, Lines({ProgramLine(climsg::kStdinNeedsOutput), strHint})},
        {{"--password-stdin", "-c", "-"},
         Lines({ProgramLine(climsg::StdinInputTwice("--password-stdin")), strHint})},
        {{"--password-file", "kennwort", "--files-from", "-", "-o", "x", "-"},
         Lines({ProgramLine(climsg::StdinInputTwice("--files-from -")), strHint})},
        {{"-c", "-o", "x", "a.bin"}, Lines({ProgramLine(climsg::OptionsExclusive("-c", "-o")), strHint})},
        {{"-o", "x", "--check", "a.bin"},
         Lines({ProgramLine(climsg::OptionsExclusive("-o", "--check")), strHint})},
        {{"-c", "--dry-run", "a.bin"},
         Lines({ProgramLine(climsg::OptionsExclusive("-c", "--dry-run")), strHint})},
        {{"-o", "x", "--output-dir", ".", "a.bin"},
         Lines({ProgramLine(climsg::OptionsExclusive("-o", "--output-dir")), strHint})},
        {{"--output=", "a.bin"}, Lines({ProgramLine(climsg::MissingValue("--output")), strHint})},
        {{"--password-file", "kennwort", "-c", "a.bin", "b.bin"},
         Lines({ProgramLine(climsg::OneInputOnly("-c", 2))})},
        {{"--password-file", "kennwort", "-o", "x", "--files-from", "/dev/null"},
         Lines({ProgramLine(climsg::OneInputOnly("-o", 0))})},
        {{"--password-file", "kennwort", "-c", "a.bin"},
         Lines({ProgramLine(climsg::kStdoutIsTerminal)}),
         true},
    };
    for (const SCase& c : cases) {
        std::string strCall;
        for (const std::string& strArg : c.args)
            strCall += strArg + " ";
        SCOPED_TRACE(strCall);
        SCliOptions options = InDir();
        options.bTerminal = c.bTerminal;
        options.bStdoutOnTerminal = c.bTerminal;
        const SCliResult result = RunCli(c.args, "geheim\n", options);
        EXPECT_EQ(result.nExitStatus, 2);
        EXPECT_EQ(result.strStderr, c.strStderr);
        EXPECT_EQ(result.strStdout, "");
        EXPECT_EQ(result.strTerminal, "");
        EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"a.bin", "b.bin", "kennwort"}));
    }
}

// A failure on the way to standard output ends with status 1 and the reason; no file is left behind.
TEST_F(PipeTest, StdinToStdout_FailureExitsOne)
{
    WriteFileBytes(m_dir / "kennwort", "geheim\n");
    const SCliResult result = RunCli({"--password-file", "kennwort", "-c", "fehlt.bin"}, "", InDir());
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStdout, "");
    EXPECT_NE(result.strStderr.find(messages::kBatchFailed), std::string::npos) << result.strStderr;
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"kennwort"}));
}

// Two inputs whose outputs are spelled apart but are one file that does not exist yet are both refused.
TEST_F(PipeTest, Batch_OneOutputThroughDotDotRefusedForBoth)
{
    WriteFileBytes(m_dir / "kennwort", "geheim\n");
    fs::create_directory(m_dir / "a");
    fs::create_directory(m_dir / "b");
    WriteFileBytes(m_dir / "a/f.bin", RandomBytes(16, 1));
    WriteFileBytes(m_dir / "b/f.bin", RandomBytes(16, 2));
    const SCliResult result =
        RunCli({"--password-file", "kennwort", "--prefix", "../", "a/f.bin", "b/f.bin"}, "", InDir());
    EXPECT_EQ(result.nExitStatus, 1);
    const std::string strDir = m_dir.Path().string();
    EXPECT_EQ(result.strStderr, Lines({messages::OutputWouldBeWrittenTwice("a/f.bin", strDir + "/a/../f.bin"),
                                       messages::OutputWouldBeWrittenTwice("b/f.bin", strDir + "/b/../f.bin"),
                                       messages::kBatchFailed}));
    EXPECT_FALSE(fs::exists(m_dir / "f.bin"));
}

} // namespace
} // namespace brasko
