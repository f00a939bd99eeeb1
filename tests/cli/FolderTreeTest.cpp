// Folder trees through the real command line: a tree changed after it was walked, and a tree far deeper
// than a path may be long.
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace brasko {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

const std::string kKey = "geheim                  ";

class FolderTreeTest : public ::testing::Test
{
protected:
    void SetUp() override { m_options.strWorkDir = m_dir.Path().string(); }
    // std::filesystem, and so CTempDir, cannot remove paths longer than PATH_MAX; rm walks by descriptors.
    void TearDown() override { test::RunShell("rm -rf '" + m_dir.Path().string() + "'/*"); }

    test::CTempDir m_dir;
    test::SCliOptions m_options;
};

// -r walks before it asks for the password. A walked folder swapped for a link to the caller's folder
// meanwhile leads nowhere, whether the link's owner may plant links there (their own folder) or not (a
// shared one): nothing outside the trees is read or replaced.
TEST_F(FolderTreeTest, Recursive_FolderSwappedAfterTheWalkIsNotFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to create folders and links of another user";
    constexpr uid_t kOther = 12345;
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
    const auto makeFolder = [&](const std::string& strName, mode_t mode, uid_t owner) {
        ASSERT_EQ(::mkdir((m_dir / strName).c_str(), 0700), 0);
        ASSERT_EQ(::chmod((m_dir / strName).c_str(), mode), 0);
        ASSERT_EQ(::chown((m_dir / strName).c_str(), owner, owner), 0);
    };
    makeFolder("geteilt", 01777, 0);
    makeFolder("fremd", 0755, kOther);
    makeFolder("geheim", 0700, 0);
    for (const std::string strTree : {"geteilt", "fremd"}) {
        makeFolder(strTree + "/sub", 0755, kOther);
        WriteFileBytes(m_dir / strTree + "/sub/a.bin", test::OpenSslEncrypt(kKey, test::GermanText(64)));
        makeFolder("geheim/" + strTree, 0700, 0);
        WriteFileBytes(m_dir / "geheim/" + strTree + "/a.bin",
                       test::OpenSslEncrypt(kKey, test::GermanText(80)));
        WriteFileBytes(m_dir / "geheim/" + strTree + "/e_a.bin", "alt");
    }
    ASSERT_EQ(::mkfifo((m_dir / "kennwort").c_str(), 0600), 0);

    test::CCliProcess cli({"--password-file", "kennwort", "-q", "-r", "geteilt", "fremd"}, m_options);
    // The password file is opened after the walk: once the FIFO has its reader, the walk is over.
    int fdPassword = -1;
    for (int i = 0; i < 6000 && fdPassword < 0; ++i) {
        fdPassword = ::open((m_dir / "kennwort").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fdPassword < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(fdPassword, 0);
    for (const std::string strTree : {"geteilt", "fremd"}) {
        const std::string strSub = m_dir / strTree + "/sub";
        ASSERT_EQ(::rename(strSub.c_str(), (m_dir / strTree + "/alt").c_str()), 0);
        ASSERT_EQ(::symlink(("../geheim/" + strTree).c_str(), strSub.c_str()), 0);
        ASSERT_EQ(::lchown(strSub.c_str(), kOther, kOther), 0);
    }
    ASSERT_EQ(::write(fdPassword, "geheim\n", 7), 7);
    ::close(fdPassword);
    const test::SCliResult result = cli.Finish();

    EXPECT_EQ(result.nExitStatus, 1) << result.strStderr;
    for (const std::string strTree : {"geteilt", "fremd"}) {
        SCOPED_TRACE(strTree);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir / "geheim/" + strTree), {}), 2);
        EXPECT_EQ(ReadFileBytes(m_dir / "geheim/" + strTree + "/e_a.bin"), "alt");
    }
}

// The folder nLevels times strName below strTop, made where bMake; open, or -1.
int Descend(const std::string& strTop, const std::string& strName, int nLevels, bool bMake)
{
    int fd = ::open(strTop.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < nLevels && fd >= 0; ++i) {
        if (bMake)
            ::mkdirat(fd, strName.c_str(), 0755);
        const int fdNext = ::openat(fd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = fdNext;
    }
    return fd;
}

// A file in an open folder, by a path short enough for any call.
std::string InFolder(int fd, const std::string& strName)
{
    return "/proc/self/fd/" + std::to_string(fd) + "/" + strName;
}

// 4 000 levels of 250-byte names, a path of a megabyte, far beyond PATH_MAX and the open-file limit of many
// systems: the files at the bottom and at the top (listed after the chain, so reached only once the walk
// has climbed back up through the folders it closed) are decrypted, below an output folder and next to
// their inputs.
TEST_F(FolderTreeTest, Recursive_DeepTreeOfLongNames)
{
    constexpr int kLevels = 4000;
    const std::string strName(250, 'o');
    const std::string strTop = test::GermanText(48);
    const std::string strBottom = test::GermanText(72);
    ASSERT_EQ(::mkdir((m_dir / "tief").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((m_dir / "klar").c_str(), 0755), 0);
    WriteFileBytes(m_dir / "tief/z.bin", test::OpenSslEncrypt(kKey, strTop));
    const int fdBottom = Descend(m_dir / "tief", strName, kLevels, true);
    ASSERT_GE(fdBottom, 0);
    WriteFileBytes(InFolder(fdBottom, "a.bin"), test::OpenSslEncrypt(kKey, strBottom));
    ::close(fdBottom);
    for (const char* pszOutput : {"klar", "tief"}) {
        SCOPED_TRACE(pszOutput);
        const std::string strOutput(pszOutput);
        const test::SCliResult result =
            strOutput == "klar"
                ? test::RunCli({"--password-stdin", "-q", "-r", "--output-dir", "klar", "tief"}, "geheim\n",
                               m_options)
                : test::RunCli({"--password-stdin", "-q", "-r", "tief"}, "geheim\n", m_options);
        EXPECT_EQ(result.nExitStatus, 0) << result.strStderr.substr(0, 300);
        EXPECT_EQ(ReadFileBytes(m_dir / strOutput + "/e_z.bin"), strTop);
        const int fd = Descend(m_dir / strOutput, strName, kLevels, false);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ReadFileBytes(InFolder(fd, "e_a.bin")), strBottom);
        ::close(fd);
    }
}

} // namespace
} // namespace brasko
