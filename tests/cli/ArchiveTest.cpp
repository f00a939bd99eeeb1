#include "Messages.h"
#include "cli/CliMessages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace brasko {
namespace {

namespace fs = std::filesystem;
namespace climsg = cli::messages;
using test::CTempDir;
using test::Lines;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::RunCli;
using test::SCliOptions;
using test::SCliResult;
using test::WriteFileBytes;

const std::string kKey = "geheim                  ";
const std::string kTrace = std::string(messages::kTraceLine) + "\n";

class ArchiveTest : public ::testing::Test
{
protected:
    // An input encrypted by openssl; its plaintext is remembered. Folders are made as needed.
    std::string MakeInput(const std::string& strName)
    {
        m_plain[strName] =
            RandomBytes(24 + 8 * (m_plain.size() % 4), static_cast<unsigned>(m_plain.size() + 7));
        fs::create_directories(fs::path(m_dir / strName).parent_path());
        WriteFileBytes(m_dir / strName, OpenSslEncrypt(kKey, m_plain[strName]));
        return strName;
    }

    void ExpectDecrypted(const std::string& strInput, const std::string& strOutput) const
    {
        EXPECT_TRUE(fs::exists(m_dir / strOutput)) << strOutput;
        if (fs::exists(m_dir / strOutput)) {
            EXPECT_EQ(ReadFileBytes(m_dir / strOutput), m_plain.at(strInput)) << strOutput;
        }
    }

    SCliResult Run(const std::vector<std::string>& args, const std::string& strStdin = "geheim\n")
    {
        SCliOptions options;
        options.strWorkDir = m_dir.Path().string();
        return RunCli(args, strStdin, options);
    }

    std::string Abs(const std::string& strName) const { return m_dir / strName; }

    CTempDir m_dir;
    std::map<std::string, std::string> m_plain;
};

// -r with an output folder: the plan on --dry-run (nothing read, made or asked), then the run with -v,
// each file at its place below the folder argument, links to folders and temporary files left out.
TEST_F(ArchiveTest, Recursive_OutputDirKeepsLayout)
{
    MakeInput("daten/a.xls");
    MakeInput("daten/2019/b.xls");
    MakeInput("daten/2019/B.xls");
    MakeInput("einzeln.bin");
    MakeInput("anderswo/x.bin");
    WriteFileBytes(m_dir / "daten/2019/.b.xls.Ab3dE6gH.tmp", "halb");
    fs::create_symlink(m_dir / "anderswo", m_dir / "daten/verweis");
    fs::create_directory(m_dir / "klar");
    const std::string strPlan = Lines(
        {"daten/2019/B.xls -> " + Abs("klar/2019/e_B.xls"), "daten/2019/b.xls -> " + Abs("klar/2019/e_b.xls"),
         "daten/a.xls -> " + Abs("klar/e_a.xls"), "einzeln.bin -> " + Abs("klar/e_einzeln.bin")});
    const std::vector<std::string> args = {"-r", "--output-dir", "klar", "daten", "einzeln.bin"};

    std::vector<std::string> dryRun = args;
    dryRun.insert(dryRun.begin(), "--dry-run");
    const SCliResult plan = Run(dryRun, "");
    EXPECT_EQ(plan.nExitStatus, 0);
    EXPECT_EQ(plan.strStdout, strPlan);
    EXPECT_EQ(plan.strStderr, "");
    EXPECT_TRUE(fs::is_empty(m_dir / "klar"));

    std::vector<std::string> verbose = args;
    verbose.insert(verbose.begin(), {"--password-stdin", "-v"});
    const SCliResult result = Run(verbose);
    EXPECT_EQ(result.nExitStatus, 0);
    std::string strExpected;
    for (std::size_t nStart = 0; nStart < strPlan.size(); nStart = strPlan.find('\n', nStart) + 1)
        strExpected += kTrace + strPlan.substr(nStart, strPlan.find('\n', nStart) + 1 - nStart);
    EXPECT_EQ(result.strStdout, strExpected);
    EXPECT_EQ(result.strStderr, Lines({messages::kBatchSucceeded}));
    ExpectDecrypted("daten/2019/b.xls", "klar/2019/e_b.xls");
    ExpectDecrypted("daten/2019/B.xls", "klar/2019/e_B.xls");
    ExpectDecrypted("daten/a.xls", "klar/e_a.xls");
    ExpectDecrypted("einzeln.bin", "klar/e_einzeln.bin");
    EXPECT_FALSE(fs::exists(m_dir / "klar/verweis"));
}

TEST_F(ArchiveTest, Usage_ErrorsOfTheArchiveOptions)
{
    MakeInput("a.bin");
    fs::create_directory(m_dir / "ordner");
    // The system would read "a.bin" of the second line, its output would be named from all of it.
    WriteFileBytes(m_dir / "nul-liste", std::string("a.bin\na.bin\0/../ordner/x\n", 25));
    struct SCase
    {
        std::vector<std::string> args;
        int nExit;
        std::string strStderr; // its first line only where the system's words follow
    };
    const std::vector<SCase> cases = {
        {{"--password-stdin", "--output-dir", "fehlt", "a.bin"},
         2,
         Lines({std::string(climsg::kProgramName) + ": " + climsg::OutputDirMissing("fehlt")})},
        {{"--password-stdin", "--files-from", "-", "a.bin"},
         2,
         Lines({std::string(climsg::kProgramName) + ": " + climsg::kStdinTwice, climsg::kUsageHint})},
        {{"--password-stdin", "--files-from", "keine-liste"},
         2,
         std::string(climsg::kProgramName) + ": " + climsg::FileListFailed("keine-liste", "")},
        {{"--password-stdin", "--files-from", "nul-liste"},
         2,
         Lines({std::string(climsg::kProgramName) + ": " + climsg::FileListLineHasNul("nul-liste", 2)})},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.args[2]);
        const SCliResult result = Run(c.args);
        EXPECT_EQ(result.nExitStatus, c.nExit);
        EXPECT_EQ(result.strStderr.substr(0, c.strStderr.size()), c.strStderr);
        EXPECT_FALSE(fs::exists(m_dir / "e_a.bin"));
    }
}

// A folder given without -r gets one line, which names -r; after the last file it still fails the run (exit
// 1, the failure summary), and alone it needs no password. Its place among other files is checked in
// CliTest.Batch_GivenOrderAndFailuresExitOne.
TEST_F(ArchiveTest, Folder_WithoutRecursiveOneLineNamingR)
{
    MakeInput("ordner/b.bin");
    MakeInput("a.bin");
    const std::string strFolder = climsg::FolderWithoutRecursive("ordner");
    const SCliResult after = Run({"--password-stdin", "-q", "a.bin", "ordner"});
    EXPECT_EQ(after.nExitStatus, 1);
    EXPECT_EQ(after.strStderr, Lines({strFolder, messages::kBatchFailed}));
    ExpectDecrypted("a.bin", "e_a.bin");

    // There is no terminal to ask.
    const SCliResult alone = Run({"ordner"});
    EXPECT_EQ(alone.nExitStatus, 1);
    EXPECT_EQ(alone.strStderr, Lines({strFolder, messages::kBatchFailed}));
    EXPECT_FALSE(fs::exists(m_dir / "ordner/e_b.bin"));
}

TEST_F(ArchiveTest, Usage_HelpNamesTheArchiveOptions)
{
    const SCliResult help = Run({"--help"}, "");
    EXPECT_EQ(help.nExitStatus, 0);
    for (const char* pszText : {"--files-from LISTE", "-0,--null", "-r,--recursive", "--output-dir ORDNER",
                                "-n,--skip-existing", "--dry-run", "-v,--verbose", "Archive:"})
        EXPECT_NE(help.strStdout.find(pszText), std::string::npos) << pszText;
}

// Names from a list come after the arguments: one per line (a CR before the line feed dropped), or
// NUL-separated so that a name may hold a line feed.
TEST_F(ArchiveTest, FilesFrom_LinesOrNulSeparated)
{
    MakeInput("erst.bin");
    MakeInput("mit leer [1].bin");
    MakeInput("zeilen\numbruch.bin");
    MakeInput("z.bin");
    WriteFileBytes(m_dir / "liste.txt", "z.bin\r\n\nmit leer [1].bin\n");
    const SCliResult lines = Run({"--dry-run", "--files-from", "liste.txt", "erst.bin"}, "");
    EXPECT_EQ(lines.nExitStatus, 0);
    EXPECT_EQ(lines.strStdout, Lines({"erst.bin -> " + Abs("e_erst.bin"), "z.bin -> " + Abs("e_z.bin"),
                                      "mit leer [1].bin -> " + Abs("e_mit leer [1].bin")}));

    WriteFileBytes(m_dir / "kennwort", "geheim\n");
    const std::string strList = std::string("zeilen\numbruch.bin") + '\0' + "z.bin" + '\0';
    const SCliResult nul = Run({"--password-file", "kennwort", "-q", "-0", "--files-from", "-"}, strList);
    EXPECT_EQ(nul.nExitStatus, 0);
    EXPECT_EQ(nul.strStderr, "");
    ExpectDecrypted("zeilen\numbruch.bin", "e_zeilen\numbruch.bin");
    ExpectDecrypted("z.bin", "e_z.bin");
}

// A rerun with -n finishes what an interrupted run left: finished outputs (the caller's, as long as their
// inputs) count as done and stay as they are, and stderr says how many were skipped.
TEST_F(ArchiveTest, SkipExisting_ResumesARun)
{
    for (const char* pszName : {"a.bin", "b.bin", "c.bin"})
        MakeInput(pszName);
    const std::string strFinished(fs::file_size(m_dir / "b.bin"), 'f');
    WriteFileBytes(m_dir / "e_b.bin", strFinished);
    const SCliResult first = Run({"--password-stdin", "-n", "a.bin", "b.bin", "c.bin"});
    EXPECT_EQ(first.nExitStatus, 0);
    EXPECT_EQ(first.strStdout, kTrace + kTrace);
    EXPECT_EQ(first.strStderr, Lines({messages::kBatchSucceeded, climsg::Skipped(1)}));
    EXPECT_EQ(ReadFileBytes(m_dir / "e_b.bin"), strFinished);
    ExpectDecrypted("c.bin", "e_c.bin");

    const SCliResult again = Run({"--password-stdin", "-n", "a.bin", "b.bin", "c.bin"});
    EXPECT_EQ(again.nExitStatus, 0);
    EXPECT_EQ(again.strStdout, "");
    EXPECT_EQ(again.strStderr, Lines({messages::kBatchSucceeded, "3 Dateien wurden übersprungen, da ihre "
                                                                 "Ausgabedatei bereits existiert."}));
}

// The plan refuses an output that replaces an input and two entries of one output: their messages on
// stderr, exit 1, and still nothing made.
TEST_F(ArchiveTest, DryRun_RefusedPlanExitsOne)
{
    MakeInput("a.bin");
    MakeInput("e_a.bin");
    MakeInput("x/c.bin");
    MakeInput("y/c.bin");
    fs::create_directory(m_dir / "klar");
    const SCliResult result =
        Run({"--dry-run", "--output-dir", ".", "a.bin", "e_a.bin", "x/c.bin", "y/c.bin"}, "");
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStdout, Lines({"e_a.bin -> " + Abs("e_e_a.bin")}));
    EXPECT_EQ(result.strStderr, Lines({messages::OutputWouldReplaceInput("a.bin", Abs("e_a.bin")),
                                       messages::OutputWouldBeWrittenTwice("x/c.bin", Abs("e_c.bin")),
                                       messages::OutputWouldBeWrittenTwice("y/c.bin", Abs("e_c.bin"))}));
    EXPECT_FALSE(fs::exists(m_dir / "e_e_a.bin"));
}

// Files in parallel say exactly what one thread says, in the same order, failures included.
TEST_F(ArchiveTest, Jobs_ParallelFilesReportInGivenOrder)
{
    std::vector<std::string> args = {"--password-stdin", "-v"};
    for (int i = 0; i < 30; ++i) {
        // Appended, not "f" + ...: GCC 12 warns wrongly about the insert that operator+ makes (-Wrestrict).
        const std::string strName = std::string("f").append(std::to_string(10 + i)).append(".bin");
        if (i % 7 != 3)
            MakeInput(strName);
        args.push_back(strName);
    }
    std::vector<SCliResult> results;
    for (const char* pszJobs : {"1", "0"}) {
        std::vector<std::string> run = args;
        run.insert(run.begin(), {"--jobs", pszJobs});
        for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
            if (entry.path().filename().string().starts_with("e_"))
                fs::remove(entry.path());
        }
        results.push_back(Run(run));
        EXPECT_EQ(results.back().nExitStatus, 1);
        ExpectDecrypted("f39.bin", "e_f39.bin");
    }
    EXPECT_EQ(results[1].strStdout, results[0].strStdout);
    EXPECT_EQ(results[1].strStderr, results[0].strStderr);
    EXPECT_EQ(results[0].strStderr.find(messages::FileNotFound("f13.bin")), 0U);
}

// A list long enough to be looked at by several threads: the folders in it are told in their places, the
// one in the list's last part as well as the one in its first, and the files around them are decrypted.
TEST_F(ArchiveTest, Folder_InLongListToldInPlace)
{
    const std::string strPlain = "Sechzehn Zeichen";
    const std::string strCipher = OpenSslEncrypt(kKey, strPlain);
    std::string strList;
    for (int i = 0; i < 600; ++i) {
        std::string strName = std::string("f").append(std::to_string(i)).append(".bin");
        if (i == 7 || i == 550) {
            strName = std::string("ordner").append(std::to_string(i));
            fs::create_directory(m_dir / strName);
        } else {
            WriteFileBytes(m_dir / strName, strCipher);
        }
        strList.append(strName).push_back('\n');
    }
    WriteFileBytes(m_dir / "liste", strList);
    const SCliResult result = Run({"--password-stdin", "-q", "--jobs", "0", "--files-from", "liste"});
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_EQ(result.strStderr, Lines({climsg::FolderWithoutRecursive("ordner7"),
                                       climsg::FolderWithoutRecursive("ordner550"), messages::kBatchFailed}));
    for (const char* pszOutput : {"e_f0.bin", "e_f549.bin", "e_f551.bin", "e_f599.bin"}) {
        EXPECT_EQ(ReadFileBytes(m_dir / pszOutput), strPlain) << pszOutput;
    }
}

} // namespace
} // namespace brasko
