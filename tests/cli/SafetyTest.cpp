// The command line on a shared machine: arguments taken literally, names shown safely on a terminal,
// a password source that gives nothing refused, file-size limits and signals handled, secrets kept out of
// core dumps and swap.
#include "Messages.h"
#include "cli/CliMessages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and strerror_l are POSIX
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace brasko {
namespace {

namespace fs = std::filesystem;
namespace climsg = cli::messages;
using test::CCliProcess;
using test::CTempDir;
using test::Lines;
using test::RunCli;
using test::SCliOptions;
using test::SCliResult;
using test::SystemText;
using Names = std::vector<std::string>;

const std::string kKey = "geheim                  ";
const std::string kTrace = std::string(messages::kTraceLine) + "\n";

class CliSafetyTest : public ::testing::Test
{
protected:
    // An input encrypted by openssl under the key of "geheim"; returns its plaintext.
    std::string MakeInput(const std::string& strName, std::size_t nSize = 40)
    {
        std::string strPlain = test::RandomBytes(nSize, static_cast<unsigned>(strName.size() + nSize));
        test::WriteFileBytes(m_dir / strName, test::OpenSslEncrypt(kKey, strPlain));
        return strPlain;
    }

    SCliOptions InDir() const
    {
        SCliOptions options;
        options.strWorkDir = m_dir.Path().string();
        return options;
    }

    CTempDir m_dir;
};

// Names that look like option syntax or hold odd bytes are files like any other: square brackets are not
// a list, a dash after "--" is no option, line feeds and invalid UTF-8 stay as they are.
TEST_F(CliSafetyTest, Files_TakenLiterallyWhateverTheyHold)
{
    struct SCase
    {
        std::vector<std::string> args;
        Names inputs; // created; the first ones are decrypted, one per file argument
        Names outputs;
    };
    const std::vector<SCase> cases = {
        {{"[]"}, {"[]"}, {"e_[]"}},
        {{"--", "[]"}, {"[]"}, {"e_[]"}},
        {{"--", "[a.bin,b.bin]"}, {"[a.bin,b.bin]", "a.bin", "b.bin"}, {"e_[a.bin,b.bin]"}},
        {{"[a.bin]", "--", "[b.bin]"}, {"[a.bin]", "[b.bin]", "a.bin", "b.bin"}, {"e_[a.bin]", "e_[b.bin]"}},
        {{"--prefix", "[p]", "--", "-x"}, {"-x"}, {"[p]-x"}},
        {{"--", "zeile\n[um].bin"}, {"zeile\n[um].bin"}, {"e_zeile\n[um].bin"}},
        {{"\xFF\xFE.bin"}, {"\xFF\xFE.bin"}, {"e_\xFF\xFE.bin"}},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        fs::remove_all(m_dir.Path());
        fs::create_directory(m_dir.Path());
        std::vector<std::string> plains;
        for (const std::string& strName : testCase.inputs)
            plains.push_back(MakeInput(strName));
        std::vector<std::string> args = {"--password-stdin"};
        args.insert(args.end(), testCase.args.begin(), testCase.args.end());
        const SCliResult result = RunCli(args, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_EQ(result.strStderr, Lines({messages::kBatchSucceeded}));
        Names expected = testCase.inputs;
        expected.insert(expected.end(), testCase.outputs.begin(), testCase.outputs.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(m_dir.List(), expected);
        for (std::size_t i = 0; i < testCase.outputs.size(); ++i)
            EXPECT_EQ(test::ReadFileBytes(m_dir / testCase.outputs[i]), plains[i]) << testCase.outputs[i];
    }
}

// A cluster of short options with a character that is none ("-q--2", "-q!x") is refused as a whole; no part
// of it becomes a file.
TEST_F(CliSafetyTest, Usage_FlagClusterInventsNoFile)
{
    for (const std::string strArgument : {"-q--2", "-q!x"}) {
        SCOPED_TRACE(strArgument);
        fs::remove_all(m_dir.Path());
        fs::create_directory(m_dir.Path());
        std::string strInvented = strArgument; // the flag's letter taken out
        strInvented.erase(1, 1);
        MakeInput(strInvented);
        const SCliResult result = RunCli({"--password-stdin", strArgument}, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, 2);
        EXPECT_EQ(
            result.strStderr,
            Lines({"brasko-decrypt-cli: " + climsg::UnknownOptions(strArgument, false), climsg::kUsageHint}));
        EXPECT_EQ(m_dir.List(), Names{strInvented});
    }
}

// A control character or a byte that is not UTF-8 never reaches the terminal raw: it is shown as ls and
// cp show it, in $'...' quoting.
TEST_F(CliSafetyTest, Messages_EscapeControlCharacters)
{
    struct SCase
    {
        std::vector<std::string> args;
        int nExitStatus;
        std::string strStderr;
    };
    const std::string strHint = climsg::kUsageHint;
    const std::vector<SCase> cases = {
        {{"--password-stdin", "zeile\nneu\x1B[2J.bin"},
         1,
         Lines({"Die Datei 'zeile'$'\\n''neu'$'\\033''[2J.bin' kann nicht gefunden werden !",
                messages::kBatchFailed})},
        {{"--password-stdin",
          "a\xC2\x9B"
          "31m\xFF",
          "\tb\xC3\xBC\x7F"},
         1,
         Lines({"Die Datei 'a'$'\\302\\233''31m'$'\\377''' kann nicht gefunden werden !",
                "Die Datei ''$'\\t''b\xC3\xBC'$'\\177''' kann nicht gefunden werden !",
                messages::kBatchFailed})},
        {{"--password-file", "kenn\rwort", "a.bin"},
         2,
         Lines({"brasko-decrypt-cli: Die Kennwortdatei 'kenn'$'\\r''wort' kann nicht gelesen werden: " +
                SystemText(ENOENT)})},
        {{"--\x1B]0;titel\x07"},
         2,
         Lines({"brasko-decrypt-cli: Unbekannte Option: '--'$'\\033'']0;titel'$'\\a'''", strHint})},
        {{"--jobs", "\x1B", "a.bin"},
         2,
         Lines({"brasko-decrypt-cli: Die Option --jobs erwartet eine ganze Zahl von 0 bis 1024, nicht "
                "''$'\\033'''.",
                strHint})},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        const SCliResult result = RunCli(testCase.args, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, testCase.nExitStatus);
        EXPECT_EQ(result.strStderr, testCase.strStderr);
        EXPECT_EQ(result.strStdout, "");
    }
    // A failure the command line explains itself (a folder is no input) is escaped as well.
    fs::create_directory(m_dir / "ord\tner");
    const SCliResult folder = RunCli({"--password-stdin", "ord\tner"}, "geheim\n", InDir());
    EXPECT_EQ(folder.nExitStatus, 1);
    EXPECT_EQ(folder.strStderr,
              Lines({"'ord'$'\\t''ner' ist ein Ordner; mit -r werden die Dateien darin entschlüsselt.",
                     messages::kBatchFailed}));
}

// Standard input or a password file that gives nothing at all is a usage error, not the empty password:
// nothing is decrypted. A line end alone is the empty password (CliTest.Password_FirstLineOfStdinOrFile).
TEST_F(CliSafetyTest, Password_SourceWithoutBytesIsAUsageError)
{
    MakeInput("a.bin");
    struct SCase
    {
        const char* pszCase;
        std::vector<std::string> args;
        std::string strSource;
        std::string strStderr;
    };
    const std::string strStdinEmpty =
        Lines({std::string("brasko-decrypt-cli: ") + climsg::kPasswordStdinEmpty});
    const std::string strFileEmpty =
        Lines({"brasko-decrypt-cli: " + climsg::PasswordFileEmpty("kennwort.txt")});
    const std::vector<SCase> cases = {
        {"empty stdin", {"--password-stdin", "a.bin"}, "", strStdinEmpty},
        {"byte-order mark only on stdin", {"--password-stdin", "a.bin"}, "\xEF\xBB\xBF", strStdinEmpty},
        {"empty stdin, no files", {"--password-stdin"}, "", strStdinEmpty},
        {"empty file", {"--password-file", "kennwort.txt", "a.bin"}, "", strFileEmpty},
        {"byte-order mark only in the file",
         {"--password-file", "kennwort.txt", "a.bin"},
         "\xEF\xBB\xBF",
         strFileEmpty},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testCase.pszCase);
        test::WriteFileBytes(m_dir / "kennwort.txt", testCase.strSource);
        const SCliResult result = RunCli(testCase.args, testCase.strSource, InDir());
        EXPECT_EQ(result.nExitStatus, 2);
        EXPECT_EQ(result.strStderr, testCase.strStderr);
        EXPECT_EQ(result.strStdout, "");
        EXPECT_EQ(m_dir.List(), (Names{"a.bin", "kennwort.txt"}));
    }
}

// An exceeded file-size limit fails that one file like any write error; the next file is still decrypted,
// and neither a temporary file nor a core dump is left.
TEST_F(CliSafetyTest, FileSizeLimit_FailsOnlyThatFile)
{
    MakeInput("gross.bin", (std::size_t{1} << 20) + 8);
    const std::string strSmall = MakeInput("klein.bin");
    SCliOptions limited = InDir();
    limited.nFileSizeLimit = 65536;
    // --no-check: the plaintext is random bytes, which the password's trial would take for a wrong password.
    const SCliResult result =
        RunCli({"--password-stdin", "--no-check", "gross.bin", "klein.bin"}, "geheim\n", limited);
    EXPECT_EQ(result.nSignal, 0);
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStdout, kTrace + kTrace);
    EXPECT_EQ(result.strStderr, Lines({climsg::OutputNotWritten(m_dir / "e_gross.bin", SystemText(EFBIG)),
                                       messages::kBatchFailed}));
    EXPECT_EQ(m_dir.List(), (Names{"e_klein.bin", "gross.bin", "klein.bin"}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_klein.bin"), strSmall);
}

// Ctrl-\ (SIGQUIT) stops the run as Ctrl-C does: the file is abandoned, the older output stays.
TEST_F(CliSafetyTest, SigQuit_StopsLikeCtrlC)
{
    {
        std::ofstream sparse(m_dir / "gross.bin", std::ios::binary);
    }
    fs::resize_file(m_dir / "gross.bin", std::uintmax_t{256} << 20);
    test::WriteFileBytes(m_dir / "e_gross.bin", "alt");
    // OpenSSL on one thread takes seconds for this, so that the signal meets the decryption.
    const test::CEnvironment slow("BRASKO_DES_KERNEL", "evp");
    // --no-check: the zeros decrypt to one random-looking block, repeated, which the trial would refuse.
    CCliProcess cli({"--password-stdin", "--no-check", "--jobs", "1", "gross.bin"}, InDir());
    cli.WriteStdin("geheim\n");
    ASSERT_TRUE(cli.WaitForStdout(kTrace)); // the input is open, the decryption running
    cli.Signal(SIGQUIT);
    const SCliResult result = cli.Finish();
    EXPECT_EQ(result.nExitStatus, 128 + SIGQUIT);
    EXPECT_EQ(result.strStderr, Lines({messages::kBatchCancelled}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_gross.bin"), "alt");
    EXPECT_EQ(m_dir.List(), (Names{"e_gross.bin", "gross.bin"}));
}

// A read that waits for its input (here standard input, whose writer never writes; a file on a hung
// network or FUSE server alike) ends at SIGTERM: the run stops as cancelled, with the signal's exit status,
// instead of hanging. Standard input stays open throughout, so only the signal can end the read.
TEST_F(CliSafetyTest, SigTerm_EndsAReadThatWaits)
{
    const auto kWaitBeforeSignal = std::chrono::milliseconds(200);
    const auto kPromptly = std::chrono::seconds(10);
    test::WriteFileBytes(m_dir / "kennwort", "geheim\n");
    CCliProcess cli({"--password-file", "kennwort", "-o", "klar.bin", "-"}, InDir());
    ASSERT_TRUE(cli.WaitForStdout(kTrace)); // the input is open, its first read waiting
    std::this_thread::sleep_for(kWaitBeforeSignal);
    cli.Signal(SIGTERM);
    const SCliResult result = cli.Finish(kPromptly, false);
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExitStatus, 128 + SIGTERM);
    EXPECT_EQ(result.strStderr, Lines({messages::kBatchCancelled}));
    EXPECT_EQ(m_dir.List(), (Names{"kennwort"}));
}

// The value of a "Name:  value ..." line of a /proc file, or empty.
std::string ProcField(pid_t pid, const std::string& strFile, const std::string& strName)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/" + strFile);
    for (std::string strLine; std::getline(file, strLine);) {
        if (strLine.starts_with(strName))
            return strLine.substr(strName.size());
    }
    return {};
}

// While it waits for the password, the program can be neither dumped nor read by other processes of its
// user, writes no core file, and keeps the password's buffer out of swap.
TEST_F(CliSafetyTest, Process_NotDumpableAndPasswordLocked)
{
    SCliOptions options;
    options.bTerminal = true;
    // The files in /proc/<pid> belong to root instead of the process's user when the process is not
    // dumpable, which a test running as root can only see for a child of another user.
    if (::geteuid() == 0)
        options.nUid = 65534;
    CCliProcess cli({"a.bin"}, options);
    ASSERT_TRUE(cli.WaitForTerminal(climsg::kPrompt));

    struct stat procStatus
    {
    };
    ASSERT_EQ(::stat(("/proc/" + std::to_string(cli.Pid()) + "/status").c_str(), &procStatus), 0);
    EXPECT_EQ(procStatus.st_uid, 0U) << "dumpable";
    std::istringstream coreLimit(ProcField(cli.Pid(), "limits", "Max core file size"));
    std::string strSoft, strHard;
    coreLimit >> strSoft >> strHard;
    EXPECT_EQ(strSoft + " " + strHard, "0 0");

    // The sanitizers' run-times turn mlock into a no-op.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool kMlockWorks = false;
#else
    constexpr bool kMlockWorks = true;
#endif
    struct rlimit lockLimit
    {
    };
    ::getrlimit(RLIMIT_MEMLOCK, &lockLimit);
    if (kMlockWorks && lockLimit.rlim_cur >= 65536)
        EXPECT_GT(std::stoul(ProcField(cli.Pid(), "status", "VmLck:")), 0U);
    else
        std::cout
            << "mlock is a no-op or RLIMIT_MEMLOCK below 64 KiB: not checking that the password is locked\n";

    cli.WriteTerminal("\x04");
    const SCliResult result = cli.Finish();
    EXPECT_EQ(result.nExitStatus, 2);
}

// -n counts only a regular file of the caller's as long as its input as finished. Another user's forged
// file or link at an output's name is replaced or refused as without -n, never taken for a finished output.
TEST_F(CliSafetyTest, SkipExisting_TrustsOnlyTheCallersOwnFinishedFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to create files and links of another user";
    constexpr uid_t kOther = 12345;
    const std::string strShared = m_dir / "shared";
    fs::create_directory(strShared);
    ASSERT_EQ(::chmod(strShared.c_str(), 01777), 0);
    std::map<std::string, std::string> plain;
    for (const char* pszName : {"shared/a.bin", "shared/b.bin", "c.bin", "d.bin"})
        plain[pszName] = MakeInput(pszName);
    const auto forge = [&](const std::string& strName, uid_t owner) {
        test::WriteFileBytes(m_dir / strName, std::string(40, 'x'));
        ASSERT_EQ(::chown((m_dir / strName).c_str(), owner, owner), 0);
    };
    forge("shared/e_a.bin", kOther); // in a shared folder: refused
    ASSERT_EQ(::symlink("nirgends", (m_dir / "shared/e_b.bin").c_str()), 0);
    ASSERT_EQ(::lchown((m_dir / "shared/e_b.bin").c_str(), kOther, kOther), 0);
    forge("e_c.bin", kOther); // in the caller's folder: replaced
    forge("e_d.bin", 0);      // the caller's own, as long as its input: finished
    const SCliResult result =
        RunCli({"--password-stdin", "-q", "-n", "shared/a.bin", "shared/b.bin", "c.bin", "d.bin"}, "geheim\n",
               InDir());
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStderr,
              Lines({messages::OutputIsForeignFile("shared/a.bin", m_dir / "shared/e_a.bin"),
                     messages::OutputIsForeignLink("shared/b.bin", m_dir / "shared/e_b.bin"),
                     messages::kBatchFailed, climsg::Skipped(1)}));
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_c.bin"), plain["c.bin"]);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_d.bin"), std::string(40, 'x'));
}

// kill -9 exactly between linking a finished output that replaces an older one under its temporary name and
// renaming it leaves that hidden file, with the whole plaintext, beside the unchanged older output. The next
// run that writes the output removes it once it was last written over a minute ago; a younger one, or one
// of another output, it leaves.
TEST_F(CliSafetyTest, Kill9_LeavesATemporaryFileTheNextRunRemoves)
{
    if (test::RunShell("command -v strace >/dev/null") != 0)
        GTEST_SKIP() << "strace missing (see scripts/install-deps)";
    const std::string strPlain = MakeInput("a.bin");
    test::WriteFileBytes(m_dir / "e_a.bin", "alt");
    // The shell's own "Killed" is silenced with the program's output.
    test::RunShell("cd '" + m_dir.Path().string() + "' && { echo geheim | strace -f -qq -o /dev/null " +
                   "-e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:signal=KILL '" +
                   BRASKO_CLI_PATH + "' --password-stdin -q a.bin; } >/dev/null 2>&1");
    const Names left = m_dir.List();
    ASSERT_EQ(left.size(), 3U);
    const std::string& strLeft = left[0];
    EXPECT_TRUE(strLeft.starts_with(".e_a.bin.") && strLeft.ends_with(".tmp")) << strLeft;
    EXPECT_EQ(test::ReadFileBytes(m_dir / strLeft), strPlain);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_a.bin"), "alt");

    const auto age = [&](const std::string& strName, int nSeconds) {
        const timeval now{::time(nullptr) - nSeconds, 0};
        const std::array<timeval, 2> times{now, now};
        ASSERT_EQ(::utimes((m_dir / strName).c_str(), times.data()), 0);
    };
    Names kept = {".e_b.bin.Ab3dE6gH.tmp", "a.bin", "e_a.bin"};
    test::WriteFileBytes(m_dir / kept[0], "b");
    age(kept[0], 120);
    if (::geteuid() == 0) {
        kept.insert(kept.begin(), ".e_a.bin.Zz9yX8wV.tmp"); // another user's
        test::WriteFileBytes(m_dir / kept[0], "x");
        ASSERT_EQ(::chown((m_dir / kept[0]).c_str(), 12345, 12345), 0);
        age(kept[0], 120);
    }
    age(strLeft, 30);
    EXPECT_EQ(RunCli({"--password-stdin", "-q", "a.bin"}, "geheim\n", InDir()).nExitStatus, 0);
    Names withLeft = kept;
    withLeft.push_back(strLeft);
    std::sort(withLeft.begin(), withLeft.end());
    EXPECT_EQ(m_dir.List(), withLeft);
    age(strLeft, 90);
    EXPECT_EQ(RunCli({"--password-stdin", "-q", "a.bin"}, "geheim\n", InDir()).nExitStatus, 0);
    EXPECT_EQ(m_dir.List(), kept);
    EXPECT_EQ(test::ReadFileBytes(m_dir / "e_a.bin"), strPlain);
}

} // namespace
} // namespace brasko
