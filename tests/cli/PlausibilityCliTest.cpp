#include "Messages.h"
#include "cli/CliMessages.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
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

// All files and folders below the test's folder, relative to it, sorted.
Names Tree(const std::filesystem::path& folder)
{
    Names names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(entry.path().lexically_relative(folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// Counts how often one file is opened, through inotify. Closes are watched as well, so that two opens in a
// row are two events and not merged into one.
class COpenWatch
{
public:
    explicit COpenWatch(const std::string& strPath)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_nWatch(::inotify_add_watch(m_fd, strPath.c_str(), IN_OPEN | IN_CLOSE_NOWRITE))
    {}
    ~COpenWatch() { ::close(m_fd); }
    COpenWatch(const COpenWatch&) = delete;
    COpenWatch& operator=(const COpenWatch&) = delete;
    COpenWatch(COpenWatch&&) = delete;
    COpenWatch& operator=(COpenWatch&&) = delete;

    bool Watching() const { return m_fd >= 0 && m_nWatch >= 0; }

    // The opens since the watch began.
    int Opens() const
    {
        int nOpens = 0;
        alignas(inotify_event) std::array<char, 4096> buffer{};
        for (ssize_t nRead; (nRead = ::read(m_fd, buffer.data(), buffer.size())) > 0;) {
            for (ssize_t nAt = 0; nAt < nRead;) {
                const auto* pEvent = reinterpret_cast<const inotify_event*>(buffer.data() + nAt);
                nOpens += (pEvent->mask & IN_OPEN) != 0 ? 1 : 0;
                nAt += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
            }
        }
        return nOpens;
    }

private:
    int m_fd;
    int m_nWatch;
};

// Before the first output is written, the password is tried on the first input that can be opened, in the
// batch's order: when its start looks random, one line names it, the exit status is 3 and nothing is
// written. A later file that looks random gets the warning after it; --no-check skips trial and warning.
TEST_F(CheckCliTest, Trial_WrongPasswordWritesNothing)
{
    std::filesystem::create_directory(m_dir / "ordner");
    test::WriteFileBytes(m_dir / "ordner/text.enc", m_strTextCipher);
    test::WriteFileBytes(m_dir / "liste", "ordner\n");
    test::WriteFileBytes(m_dir / "zeile\nneu.enc", m_strTextCipher);
    std::filesystem::create_directory(m_dir / "klar");
    const Names before = Tree(m_dir.Path());
    const std::string strPlainOutput = m_dir / "e_text.enc";
    const struct
    {
        const char* pszCase;
        std::vector<std::string> args;
        int nExitStatus;
        std::string strStderr;
        Names written;
    } cases[] = {
        {"right password",
         {"--password-file", "pw", "-q", "text.enc", "kurz.enc"},
         0,
         "",
         {"e_kurz.enc", "e_text.enc"}},
        {"wrong password",
         {"--password-file", "falsch", "-q", "text.enc", "kurz.enc"},
         3,
         Lines({climsg::PasswordTrialFailed("text.enc")}),
         {}},
        {"wrong password, the first input missing",
         {"--password-file", "falsch", "fehlt.enc", "text.enc"},
         3,
         Lines({climsg::PasswordTrialFailed("text.enc")}),
         {}},
        {"wrong password, the first input too short to judge",
         {"--password-file", "falsch", "-q", "kurz.enc", "text.enc"},
         0,
         Lines({climsg::ContentLooksRandom(strPlainOutput)}),
         {"e_kurz.enc", "e_text.enc"}},
        {"wrong password, --no-check",
         {"--password-file", "falsch", "-q", "--no-check", "text.enc"},
         0,
         "",
         {"e_text.enc"}},
        {"wrong password, no input can be opened",
         {"--password-file", "falsch", "-q", "fehlt.enc"},
         1,
         Lines({messages::FileNotFound("fehlt.enc"), messages::kBatchFailed}),
         {}},
        {"wrong password, a tree from a list into an output folder",
         {"--password-file", "falsch", "-q", "-r", "-n", "--output-dir", "klar", "--files-from", "liste"},
         3,
         Lines({climsg::PasswordTrialFailed("ordner/text.enc")}),
         {}},
        {"wrong password, a name with a line feed",
         {"--password-file", "falsch", "-q", "--", "zeile\nneu.enc"},
         3,
         Lines({"Warnung: Mit diesem Kennwort ergibt die Datei 'zeile'$'\\n''neu.enc' keinen erkennbaren "
                "Inhalt. Es wurde nichts geschrieben; mit --no-check wird trotzdem entschlüsselt."}),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const SCliResult result = Run(c.args);
        EXPECT_EQ(result.nExitStatus, c.nExitStatus);
        EXPECT_EQ(result.strStderr, c.strStderr);
        EXPECT_EQ(result.strStdout, "");
        Names expected = before;
        expected.insert(expected.end(), c.written.begin(), c.written.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Tree(m_dir.Path()), expected);
        EXPECT_EQ(test::ReadFileBytes(m_dir / "text.enc"), m_strTextCipher);
        for (const std::string& strOutput : c.written)
            std::filesystem::remove(m_dir / strOutput);
    }
}

// --no-check costs no trial: the input is opened once less.
TEST_F(CheckCliTest, Trial_NotRunWithNoCheck)
{
    std::array<int, 2> nOpens = {};
    for (const bool bNoCheck : {false, true}) {
        SCOPED_TRACE(bNoCheck ? "--no-check" : "with the trial");
        const COpenWatch watch(m_dir / "text.enc");
        ASSERT_TRUE(watch.Watching());
        std::vector<std::string> args = {"--password-file", "pw", "-q", "text.enc"};
        if (bNoCheck)
            args.insert(args.begin(), "--no-check");
        EXPECT_EQ(Run(args).nExitStatus, 0);
        EXPECT_EQ(test::ReadFileBytes(m_dir / "e_text.enc").size(), m_strTextCipher.size());
        std::filesystem::remove(m_dir / "e_text.enc");
        nOpens[bNoCheck ? 1 : 0] = watch.Opens();
    }
    EXPECT_GE(nOpens[1], 1);
    EXPECT_EQ(nOpens[0], nOpens[1] + 1);
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
    EXPECT_NE(help.strStdout.find("3, wenn die Probe"), std::string::npos);
    EXPECT_NE(help.strStdout.find("3, wenn mindestens eine"), std::string::npos);
}

} // namespace
} // namespace brasko
