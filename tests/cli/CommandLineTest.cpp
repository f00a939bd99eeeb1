#include "Messages.h"
#include "TripleDes.h"
#include "Version.h"
#include "cli/CliMessages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <termios.h>
#include <thread>

namespace brasko {
namespace {

namespace fs = std::filesystem;
namespace climsg = cli::messages;
using test::CCliProcess;
using test::CEnvironment;
using test::CTempDir;
using test::Lines;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::RunCli;
using test::SCliOptions;
using test::SCliResult;
using test::SystemText;
using test::ToHex;
using test::WriteFileBytes;
using Names = std::vector<std::string>;

// The key the old tool makes of a password of single-byte characters: the password, then blanks.
std::string KeyOf(const std::string& strPassword)
{
    return strPassword + std::string(24 - strPassword.size(), ' ');
}

// Each line ended by a line feed, as the command line writes them.

std::string UsageError(const std::string& strText)
{
    return std::string(climsg::kProgramName) + ": " + strText;
}

const std::string kTrace = std::string(messages::kTraceLine) + "\n";

class CliTest : public ::testing::Test
{
protected:
    // An input encrypted by openssl under strKey; its plaintext and ciphertext are remembered.
    std::string MakeInput(const std::string& strName, const std::string& strKey = KeyOf("geheim"))
    {
        m_plain[strName] = RandomBytes(40, ++m_nSeed);
        m_cipher[strName] = OpenSslEncrypt(strKey, m_plain[strName]);
        WriteFileBytes(m_dir / strName, m_cipher[strName]);
        return m_dir / strName;
    }

    void ExpectDecrypted(const std::string& strInput, const std::string& strOutput) const
    {
        EXPECT_EQ(ToHex(ReadFileBytes(m_dir / strOutput)), ToHex(m_plain.at(strInput))) << strOutput;
    }

    void ExpectInputsUnchanged() const
    {
        for (const auto& [strName, strCipher] : m_cipher)
            EXPECT_EQ(ReadFileBytes(m_dir / strName), strCipher) << strName;
    }

    SCliOptions InDir() const
    {
        SCliOptions options;
        options.strWorkDir = m_dir.Path().string();
        return options;
    }

    CTempDir m_dir;
    std::map<std::string, std::string> m_plain;
    std::map<std::string, std::string> m_cipher;
    unsigned m_nSeed = 0;
};

TEST_F(CliTest, Password_FirstLineOfStdinOrFile)
{
    struct SCase
    {
        const char* pszCase;
        bool bFromFile;
        std::string strSource; // what standard input or the password file holds
        std::string strKey;
    };
    const std::vector<SCase> cases = {
        {"stdin, line feed", false, "geheim\n", KeyOf("geheim")},
        {"stdin, CR LF", false, "geheim\r\n", KeyOf("geheim")},
        {"stdin, no line end", false, "geheim", KeyOf("geheim")},
        {"stdin, only the first line", false, "erste\nzweite\n", KeyOf("erste")},
        {"stdin, blanks kept", false, " a b \n", KeyOf(" a b ")},
        {"stdin, empty line", false, "\n", KeyOf("")},
        {"stdin, byte-order mark", false, "\xEF\xBB\xBFgeheim\n", KeyOf("geheim")},
        {"stdin, UTF-8 umlaut", false, "Müller\n", KeyOf("M?ller")},
        {"file, CR LF", true, "geheim\r\nzweite\r\n", KeyOf("geheim")},
        {"file, empty line", true, "\r\n", KeyOf("")},
        {"file, byte-order mark and empty line", true, "\xEF\xBB\xBF\r\n", KeyOf("")},
        {"file, byte-order mark only at the start", true, "\xEF\xBB\xBF\xEF\xBB\xBFx", KeyOf("?x")},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testCase.pszCase);
        MakeInput("a.bin", testCase.strKey);
        fs::remove(m_dir / "e_a.bin");
        std::vector<std::string> args = {"--password-stdin", "a.bin"};
        if (testCase.bFromFile) {
            WriteFileBytes(m_dir / "kennwort.txt", testCase.strSource);
            args = {"--password-file", "kennwort.txt", "a.bin"};
        }
        const SCliResult result = RunCli(args, testCase.bFromFile ? "falsch\n" : testCase.strSource, InDir());
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_EQ(result.strStderr, Lines({messages::kBatchSucceeded}));
        EXPECT_EQ(result.strStdout, kTrace);
        ExpectDecrypted("a.bin", "e_a.bin");
        ExpectInputsUnchanged();
    }
}

TEST_F(CliTest, Password_LongerThan24CharactersIsCutWithANote)
{
    struct SCase
    {
        std::string strPassword;
        std::string strKey;
        bool bNote;
    };
    std::string strUmlauts;
    for (int i = 0; i < 20; ++i)
        strUmlauts += "ü";
    const std::vector<SCase> cases = {
        {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnopqrstuvwx", true},
        {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx", false},
        // Characters are counted, not bytes: 20 two-byte umlauts and then four letters make 24.
        {strUmlauts + "abcdefg", std::string(20, '?') + "abcd", true},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testCase.strPassword);
        MakeInput("a.bin", testCase.strKey);
        fs::remove(m_dir / "e_a.bin");
        const SCliResult result = RunCli({"--password-stdin", "a.bin"}, testCase.strPassword + "\n", InDir());
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_EQ(result.strStderr, testCase.bNote
                                        ? Lines({climsg::kPasswordTruncated, messages::kBatchSucceeded})
                                        : Lines({messages::kBatchSucceeded}));
        ExpectDecrypted("a.bin", "e_a.bin");
    }
}

TEST_F(CliTest, Batch_TemplateOptionsAndQuiet)
{
    MakeInput("a.bin");
    MakeInput("b.tar.gz");
    for (const bool bQuiet : {false, true}) {
        SCOPED_TRACE(bQuiet ? "quiet" : "with trace lines");
        std::vector<std::string> args = {"--password-stdin", "--prefix", "",   "--suffix=_klar",
                                         "--extension",      ".txt",     "-j", "1",
                                         m_dir / "a.bin",    "b.tar.gz"};
        if (bQuiet)
            args.insert(args.begin(), "--quiet");
        const SCliResult result = RunCli(args, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_EQ(result.strStdout, bQuiet ? "" : kTrace + kTrace);
        EXPECT_EQ(result.strStderr, bQuiet ? "" : Lines({messages::kBatchSucceeded}));
        ExpectDecrypted("a.bin", "a_klar.bin.txt");
        ExpectDecrypted("b.tar.gz", "b_klar.tar.gz.txt");
        ExpectInputsUnchanged();
    }
}

// BRASKO_DES_KERNEL forces a variant: each one this CPU runs decrypts alike (a password of eight characters
// takes the single-DES path, a longer one full Triple-DES); an unknown one, or one the CPU lacks, is refused
// before anything is touched; a failed self-test is noted once and OpenSSL decrypts instead.
TEST_F(CliTest, Kernel_ForcedRefusedAndFallback)
{
    MakeInput("kurz.bin", KeyOf("Passwort"));
    MakeInput("lang.bin", KeyOf("ein langes Kennwort"));
    std::string strAvailable;
    std::vector<std::string> refused = {"sse", "AVX2"};
    for (const EDesKernel kernel : kAllDesKernels) {
        if (DesKernelSupported(kernel))
            strAvailable += (strAvailable.empty() ? "" : ", ") + std::string(DesKernelName(kernel));
        else
            refused.emplace_back(DesKernelName(kernel));
    }
    for (const EDesKernel kernel : kAllDesKernels) {
        if (!DesKernelSupported(kernel))
            continue;
        SCOPED_TRACE(DesKernelName(kernel));
        const CEnvironment forced("BRASKO_DES_KERNEL", DesKernelName(kernel));
        for (const auto& [strName, strPassword] :
             {std::pair<std::string, std::string>{"kurz.bin", "Passwort"},
              {"lang.bin", "ein langes Kennwort"}}) {
            const SCliResult result =
                RunCli({"--password-stdin", "-q", strName}, strPassword + "\n", InDir());
            EXPECT_EQ(result.nExitStatus, 0);
            EXPECT_EQ(result.strStderr, "");
            ExpectDecrypted(strName, "e_" + strName);
        }
    }
    const Names before = m_dir.List();
    for (const std::string& strRefused : refused) {
        SCOPED_TRACE(strRefused);
        const CEnvironment forced("BRASKO_DES_KERNEL", strRefused);
        const SCliResult result = RunCli({"--password-stdin", "lang.bin"}, "ein langes Kennwort\n", InDir());
        EXPECT_EQ(result.nExitStatus, 2);
        EXPECT_EQ(result.strStderr, Lines({UsageError(climsg::DesKernelRefused(strRefused, strAvailable))}));
        EXPECT_EQ(result.strStdout, "");
        EXPECT_EQ(m_dir.List(), before);
    }
    std::filesystem::remove(m_dir / "e_lang.bin");
    const CEnvironment spoilt("BRASKO_DES_SELFTEST", "fail");
    const SCliResult result =
        RunCli({"--password-stdin", "-q", "lang.bin"}, "ein langes Kennwort\n", InDir());
    EXPECT_EQ(result.nExitStatus, 0);
    const std::string strBest = DesKernelSupported(EDesKernel::Avx512Gfni) ? "avx512gfni"
                                : DesKernelSupported(EDesKernel::Avx512)   ? "avx512"
                                : DesKernelSupported(EDesKernel::Avx2)     ? "avx2"
                                                                           : "u64";
    EXPECT_EQ(result.strStderr, Lines({UsageError(climsg::DesKernelSelfTestFailed(strBest))}));
    ExpectDecrypted("lang.bin", "e_lang.bin");
    ExpectInputsUnchanged();
}

// Files are worked through in the order given; each failure is told in its place and the run goes on. A
// folder given without -r is told in one line with the way to decrypt what it holds.
TEST_F(CliTest, Batch_GivenOrderAndFailuresExitOne)
{
    MakeInput("b.bin");
    MakeInput("a.bin");
    fs::create_directory(m_dir / "ordner");
    ASSERT_EQ(::mkfifo((m_dir / "rohr").c_str(), 0600), 0);
    fs::create_symlink("/proc/self/status", m_dir / "proc");
    const SCliResult result = RunCli(
        {"--password-stdin", "z.bin", "b.bin", "ordner", "rohr", "proc", "a.bin"}, "geheim\n", InDir());
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStdout, kTrace + kTrace);
    EXPECT_EQ(result.strStderr,
              Lines({messages::FileNotFound("z.bin"), climsg::FolderWithoutRecursive("ordner"),
                     messages::FileNotFound("rohr"), climsg::InputNotRegular("rohr"),
                     messages::FileNotFound("proc"), climsg::InputOnPseudoFileSystem("proc"),
                     messages::kBatchFailed}));
    ExpectDecrypted("b.bin", "e_b.bin");
    ExpectDecrypted("a.bin", "e_a.bin");
    EXPECT_EQ(m_dir.List(), (Names{"a.bin", "b.bin", "e_a.bin", "e_b.bin", "ordner", "proc", "rohr"}));
}

// With no files and with an empty template the batch needs no password: no prompt, no error about it.
TEST_F(CliTest, Batch_NoFilesOrEmptyTemplateNeedNoPassword)
{
    MakeInput("a.bin");
    struct SCase
    {
        std::vector<std::string> args;
        int nExitStatus;
        std::string strMessage;
    };
    const std::vector<SCase> cases = {
        {{}, 0, messages::kBatchSucceeded},
        {{"--prefix", "", "a.bin"}, 2, messages::kTemplateEmpty},
        {{"--prefix=", "a.bin"}, 2, messages::kTemplateEmpty},
        {{"--prefix=", "--suffix=", "--extension=", "a.bin", "fehlt.bin"}, 2, messages::kTemplateEmpty},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        const SCliResult result = RunCli(testCase.args, "", InDir());
        EXPECT_EQ(result.nExitStatus, testCase.nExitStatus);
        EXPECT_EQ(result.strStderr, Lines({testCase.strMessage}));
        EXPECT_EQ(result.strStdout, "");
        EXPECT_EQ(m_dir.List(), Names{"a.bin"});
    }
}

TEST_F(CliTest, Usage_ErrorsExitTwoAndTouchNothing)
{
    MakeInput("a.bin");
    WriteFileBytes(m_dir / "kennwort.txt", "geheim\n");
    struct SCase
    {
        std::vector<std::string> args;
        std::string strStderr;
    };
    const std::string strHint = climsg::kUsageHint;
    const std::vector<SCase> cases = {
        {{"--password-stdin", "--bogus", "a.bin"},
         Lines({UsageError(climsg::UnknownOptions("--bogus", false)), strHint})},
        {{"--password=geheim", "a.bin"},
         Lines({UsageError(climsg::UnknownOptions("--password", false)), climsg::kPasswordNotOnCommandLine,
                strHint})},
        {{"a.bin", "--prefix"}, Lines({UsageError(climsg::MissingValue("--prefix")), strHint})},
        {{"--quiet=ja", "a.bin"}, Lines({UsageError(climsg::OptionMisused("--quiet")), strHint})},
        {{"--jobs", "abc", "a.bin"}, Lines({UsageError(climsg::InvalidJobs("abc", 1024)), strHint})},
        {{"--jobs=-1", "a.bin"}, Lines({UsageError(climsg::InvalidJobs("-1", 1024)), strHint})},
        {{"-j", "1025", "a.bin"}, Lines({UsageError(climsg::InvalidJobs("1025", 1024)), strHint})},
        {{"--password-stdin", "--password-file", "kennwort.txt", "a.bin"},
         Lines({UsageError(climsg::kPasswordSourcesExclusive), strHint})},
        {{"a.bin"}, Lines({UsageError(climsg::kNoTerminal)})},
        {{"--password-file", "fehlt.txt", "a.bin"},
         Lines({UsageError(climsg::PasswordFileFailed("fehlt.txt", SystemText(ENOENT)))})},
        {{"--password-file", ".", "a.bin"},
         Lines({UsageError(climsg::PasswordFileFailed(".", SystemText(EISDIR)))})},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        const SCliResult result = RunCli(testCase.args, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, 2);
        EXPECT_EQ(result.strStderr, testCase.strStderr);
        EXPECT_EQ(result.strStdout, "");
        EXPECT_EQ(m_dir.List(), (Names{"a.bin", "kennwort.txt"}));
    }
}

TEST_F(CliTest, Usage_VersionAndHelp)
{
    for (const char* pszVersion : {"--version", "-V"}) {
        const SCliResult version = RunCli({pszVersion});
        EXPECT_EQ(version.nExitStatus, 0);
        EXPECT_EQ(version.strStdout, std::string("brasko-decrypt-cli ") + kVersionString + "\n");
        EXPECT_EQ(version.strStderr, "");
    }

    for (const char* pszHelp : {"--help", "-h"}) {
        const SCliResult help = RunCli({pszHelp, "--bogus"});
        EXPECT_EQ(help.nExitStatus, 0);
        EXPECT_EQ(help.strStderr, "");
        EXPECT_NE(help.strStdout.find("Aufruf: brasko-decrypt-cli [OPTIONEN] [DATEI...]\n"),
                  std::string::npos);
        for (const char* pszText :
             {"--prefix TEXT", "--suffix TEXT", "--extension TEXT", "--password-stdin",
              "--password-file PFAD", "-j,--jobs N", "-q,--quiet", "-V,--version", "Rückgabewert"})
            EXPECT_NE(help.strStdout.find(pszText), std::string::npos) << pszText;
        EXPECT_EQ(help.strStdout.find("Usage"), std::string::npos);
    }
}

// An output that would replace one of the inputs, or the input itself, is not written.
TEST_F(CliTest, Batch_OutputNeverReplacesAnInput)
{
    MakeInput("a.bin");
    MakeInput("e_a.bin");
    const SCliResult clash = RunCli({"--password-stdin", m_dir / "a.bin", m_dir / "e_a.bin"}, "geheim\n");
    EXPECT_EQ(clash.nExitStatus, 1);
    EXPECT_EQ(clash.strStdout, kTrace);
    EXPECT_EQ(clash.strStderr, Lines({messages::OutputWouldReplaceInput(m_dir / "a.bin", m_dir / "e_a.bin"),
                                      messages::kBatchFailed}));
    ExpectDecrypted("e_a.bin", "e_e_a.bin");
    ExpectInputsUnchanged();

    const SCliResult itself = RunCli({"--password-stdin", "--prefix", "./", m_dir / "a.bin"}, "geheim\n");
    EXPECT_EQ(itself.nExitStatus, 1);
    EXPECT_EQ(itself.strStdout, "");
    EXPECT_EQ(itself.strStderr, Lines({messages::OutputWouldReplaceInput(m_dir / "a.bin", m_dir / "./a.bin"),
                                       messages::kBatchFailed}));
    ExpectInputsUnchanged();
    EXPECT_EQ(m_dir.List(), (Names{"a.bin", "e_a.bin", "e_e_a.bin"}));
}

// A failure the system reports gets a line with its reason, and no output or temporary file is left.
TEST_F(CliTest, Batch_FailureAddsTheSystemsReason)
{
    MakeInput("a.bin");
    WriteFileBytes(m_dir / "e_a.bin", "alt");
    fs::permissions(m_dir / "e_a.bin", fs::perms::owner_read);
    const SCliResult readOnly = RunCli({"--password-stdin", m_dir / "a.bin"}, "geheim\n");
    EXPECT_EQ(readOnly.nExitStatus, 1);
    EXPECT_EQ(readOnly.strStderr, Lines({climsg::OutputNotCreated(m_dir / "e_a.bin", SystemText(EACCES)),
                                         messages::kBatchFailed}));
    EXPECT_EQ(ReadFileBytes(m_dir / "e_a.bin"), "alt");

    // A file-size limit makes a write fail halfway through the output.
    WriteFileBytes(m_dir / "gross.bin", RandomBytes((std::size_t{1} << 20) + 5, 7));
    SCliOptions limited;
    limited.nFileSizeLimit = 65536;
    // --no-check: the random plaintext would look like a wrong password to the trial.
    const SCliResult tooLarge =
        RunCli({"--password-stdin", "--no-check", m_dir / "gross.bin"}, "geheim\n", limited);
    EXPECT_EQ(tooLarge.nExitStatus, 1);
    EXPECT_EQ(tooLarge.strStdout, kTrace);
    EXPECT_EQ(tooLarge.strStderr, Lines({climsg::OutputNotWritten(m_dir / "e_gross.bin", SystemText(EFBIG)),
                                         messages::kBatchFailed}));
    EXPECT_EQ(m_dir.List(), (Names{"a.bin", "e_a.bin", "gross.bin"}));
    ExpectInputsUnchanged();
}

// The prompt hides what is typed and gives the terminal back as it was, also when the run is interrupted.
TEST_F(CliTest, Prompt_HidesInputAndRestoresTheTerminal)
{
    MakeInput("a.bin");
    SCliOptions options = InDir();
    options.bTerminal = true;
    struct SCase
    {
        const char* pszCase;
        std::string strReply;
        int nExitStatus;
        std::string strStderr;
    };
    const std::vector<SCase> cases = {
        {"password", "geheim\n", 0, Lines({messages::kBatchSucceeded})},
        {"end of input", "\x04", 2, Lines({UsageError(climsg::kPromptAborted)})},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testCase.pszCase);
        CCliProcess process({"a.bin"}, options);
        ASSERT_TRUE(process.WaitForTerminal(climsg::kPrompt));
        EXPECT_EQ(process.TerminalLocalModes() & ECHO, 0U);
        process.WriteTerminal(testCase.strReply);
        const SCliResult result = process.Finish();
        EXPECT_EQ(result.nExitStatus, testCase.nExitStatus);
        EXPECT_EQ(result.strStderr, testCase.strStderr);
        EXPECT_EQ(result.strTerminal, std::string(climsg::kPrompt) + "\r\n"); // nothing typed was shown
        EXPECT_NE(process.TerminalLocalModes() & ECHO, 0U);
    }
    ExpectDecrypted("a.bin", "e_a.bin");

    CCliProcess interrupted({"a.bin"}, options);
    ASSERT_TRUE(interrupted.WaitForTerminal(climsg::kPrompt));
    interrupted.Signal(SIGINT);
    const SCliResult result = interrupted.Finish();
    EXPECT_EQ(result.nSignal, SIGINT);
    EXPECT_NE(interrupted.TerminalLocalModes() & ECHO, 0U);
}

// A run long enough shows a progress line on a terminal; the final message replaces it.
TEST_F(CliTest, Progress_DrawnOnATerminal)
{
    {
        std::ofstream sparse(m_dir / "gross.bin", std::ios::binary);
    }
    fs::resize_file(m_dir / "gross.bin", std::uintmax_t{128} << 20);
    // The bitsliced cipher, or OpenSSL on many cores, decrypts this in less than the half second before a
    // progress line appears. OpenSSL on one thread takes a second or more on the fastest machines (about
    // 100 MB/s), several seconds on a slow one.
    const CEnvironment slow("BRASKO_DES_KERNEL", "evp");
    SCliOptions options = InDir();
    options.bTerminal = true;
    options.bStderrOnTerminal = true;
    // --no-check: the zeros decrypt to one random block, repeated, which would add a warning.
    const SCliResult result =
        RunCli({"--password-stdin", "--no-check", "--jobs", "1", "gross.bin"}, "geheim\n", options);
    EXPECT_EQ(result.nExitStatus, 0);
    EXPECT_EQ(result.strStdout, kTrace);
    EXPECT_NE(result.strTerminal.find("Datei 1 von 1: "), std::string::npos) << result.strTerminal;
    EXPECT_TRUE(result.strTerminal.ends_with(std::string("\r\033[K") + messages::kBatchSucceeded + "\r\n"))
        << result.strTerminal;
    EXPECT_EQ(fs::file_size(m_dir / "e_gross.bin"), std::uintmax_t{128} << 20);
}

// Ctrl-C during a long decryption: the started file is abandoned, nothing is left behind, the older output
// stays, and the exit status tells the signal as a shell expects (128 + its number).
TEST_F(CliTest, Interrupt_AbandonsTheFileCleanly)
{
    {
        std::ofstream sparse(m_dir / "gross.bin", std::ios::binary);
    }
    fs::resize_file(m_dir / "gross.bin", std::uintmax_t{256} << 20);
    WriteFileBytes(m_dir / "e_gross.bin", "alt");
    // The signal must meet the decryption: OpenSSL on one or two threads takes a second or more for this
    // on the fastest machines, where the bitsliced cipher or all cores of a large one would be done first.
    const CEnvironment slow("BRASKO_DES_KERNEL", "evp");
    for (const char* pszJobs : {"1", "2"}) {
        SCOPED_TRACE(pszJobs);
        // --no-check: the zeros decrypt to one random-looking block, repeated, which the trial would refuse.
        CCliProcess cli({"--password-stdin", "--no-check", "--jobs", pszJobs, "gross.bin"}, InDir());
        cli.WriteStdin("geheim\n");
        // Wait until the temporary output is open (unnamed, it shows in /proc as "#<inode> (deleted)"), so
        // that the signal meets the decryption.
        bool bStarted = false;
        const fs::path descriptors = "/proc/" + std::to_string(cli.Pid()) + "/fd";
        for (int i = 0; i < 500 && !bStarted; ++i) {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(descriptors, error)) {
                const std::string strTarget = fs::read_symlink(entry.path(), error).string();
                bStarted =
                    bStarted || (strTarget.starts_with(m_dir.Path().string() + "/") &&
                                 (strTarget.find("/#") != std::string::npos || strTarget.ends_with(".tmp")));
            }
            if (!bStarted)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(bStarted);
        cli.Signal(SIGINT);
        const SCliResult result = cli.Finish();
        EXPECT_EQ(result.nExitStatus, 128 + SIGINT);
        EXPECT_EQ(result.strStderr, Lines({messages::kBatchCancelled}));
        EXPECT_EQ(ReadFileBytes(m_dir / "e_gross.bin"), "alt");
        EXPECT_EQ(m_dir.List(), (Names{"e_gross.bin", "gross.bin"}));
    }
}

} // namespace
} // namespace brasko
