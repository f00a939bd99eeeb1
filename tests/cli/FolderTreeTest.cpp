// Folder trees through the real command line: a tree changed after it was walked, and trees far deeper
// than a path may be long.
#include "tests/cli/CliProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brasko {
namespace {

using test::CCliProcess;
using test::CTempDir;
using test::ReadFileBytes;
using test::SCliOptions;
using test::SCliResult;
using test::WriteFileBytes;

const std::string kKey = "geheim                  ";
constexpr uid_t kOther = 12345; // a user who is neither the caller nor a folder's owner

class FolderTreeTest : public ::testing::Test
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

// Opens the writing end of a FIFO once the reader has opened it; -1 after the timeout.
int OpenWriterWhenRead(const std::string& strFifo, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const int fd = ::open(strFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() > end)
            return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// -r walks before it asks for the password. A folder of another user in a shared tree, swapped for their
// link to the caller's folder meanwhile, leads nowhere: nothing outside the tree is read or replaced.
TEST_F(FolderTreeTest, Recursive_FolderSwappedAfterTheWalkIsNotFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to create folders and links of another user";
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
    const std::string strTree = m_dir / "baum";
    ASSERT_EQ(::mkdir(strTree.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(strTree.c_str(), 01777), 0);
    ASSERT_EQ(::mkdir((strTree + "/sub").c_str(), 0777), 0);
    ASSERT_EQ(::chown((strTree + "/sub").c_str(), kOther, kOther), 0);
    WriteFileBytes(strTree + "/sub/a.bin", test::OpenSslEncrypt(kKey, test::GermanText(64)));
    ASSERT_EQ(::mkdir((m_dir / "geheim").c_str(), 0700), 0);
    WriteFileBytes(m_dir / "geheim/a.bin", test::OpenSslEncrypt(kKey, test::GermanText(80)));
    WriteFileBytes(m_dir / "geheim/e_a.bin", "alt");
    ASSERT_EQ(::mkfifo((m_dir / "kennwort").c_str(), 0600), 0);

    CCliProcess cli({"--password-file", "kennwort", "-q", "-r", "baum"}, InDir());
    // The password is read after the walk: once its file is open, the walk is over.
    const int fdPassword = OpenWriterWhenRead(m_dir / "kennwort", std::chrono::seconds(30));
    ASSERT_GE(fdPassword, 0);
    ASSERT_EQ(::rename((strTree + "/sub").c_str(), (strTree + "/alt").c_str()), 0);
    ASSERT_EQ(::symlink("../geheim", (strTree + "/sub").c_str()), 0);
    ASSERT_EQ(::lchown((strTree + "/sub").c_str(), kOther, kOther), 0);
    ASSERT_EQ(::write(fdPassword, "geheim\n", 7), 7);
    ::close(fdPassword);
    const SCliResult result = cli.Finish();

    EXPECT_EQ(result.nExitStatus, 1) << result.strStderr;
    EXPECT_EQ(ReadFileBytes(m_dir / "geheim/e_a.bin"), "alt");
    EXPECT_FALSE(std::filesystem::exists(strTree + "/alt/e_a.bin"));
}

// Removes folders too deep for std::filesystem (and so for CTempDir) when it goes: rm walks by descriptors.
class CDeepRemover
{
public:
    explicit CDeepRemover(const std::vector<std::string>& folders)
    {
        for (const std::string& strFolder : folders)
            m_strCommand += " '" + strFolder + "'";
    }
    ~CDeepRemover() { test::RunShell("rm -rf" + m_strCommand); }
    CDeepRemover(const CDeepRemover&) = delete;
    CDeepRemover& operator=(const CDeepRemover&) = delete;
    CDeepRemover(CDeepRemover&&) = delete;
    CDeepRemover& operator=(CDeepRemover&&) = delete;

private:
    std::string m_strCommand;
};

// A chain of nLevels folders of one name below fdTop; returns the deepest, open.
int MakeChain(int fdTop, const std::string& strName, int nLevels)
{
    int fd = ::dup(fdTop);
    for (int i = 0; i < nLevels && fd >= 0; ++i) {
        const int fdNext = ::mkdirat(fd, strName.c_str(), 0755) == 0
                               ? ::openat(fd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                               : -1;
        ::close(fd);
        fd = fdNext;
    }
    return fd;
}

// The deepest folder of such a chain, or -1 where it is missing.
int FindChain(const std::string& strTop, const std::string& strName, int nLevels)
{
    int fd = ::open(strTop.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < nLevels && fd >= 0; ++i) {
        const int fdNext = ::openat(fd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = fdNext;
    }
    return fd;
}

std::string ReadAt(int fdFolder, const char* pszName)
{
    std::string strContent;
    const int fd = ::openat(fdFolder, pszName, O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        strContent.append(buffer, static_cast<std::size_t>(n));
    if (fd >= 0)
        ::close(fd);
    return strContent;
}

// 4 000 levels of 250-byte names, a path of a megabyte, far beyond PATH_MAX and the open-file limit of
// many systems: the files at the top and at the bottom are decrypted, next to their inputs and below an
// output folder.
TEST_F(FolderTreeTest, Recursive_DeepTreeOfLongNames)
{
    constexpr int kLevels = 4000;
    const std::string strName(250, 'o');
    const CDeepRemover remover({m_dir / "tief", m_dir / "klar"});
    ASSERT_EQ(::mkdir((m_dir / "klar").c_str(), 0755), 0);
    const std::string strTop = test::GermanText(48);
    const std::string strBottom = test::GermanText(72);
    ASSERT_EQ(::mkdir((m_dir / "tief").c_str(), 0755), 0);
    // Listed after the chain: found once the walk has climbed back up through the folders it had closed.
    WriteFileBytes(m_dir / "tief/z.bin", test::OpenSslEncrypt(kKey, strTop));
    {
        const int fdTop = ::open((m_dir / "tief").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int fdBottom = MakeChain(fdTop, strName, kLevels);
        ::close(fdTop);
        ASSERT_GE(fdBottom, 0);
        const std::string strCipher = test::OpenSslEncrypt(kKey, strBottom);
        const int fd = ::openat(fdBottom, "a.bin", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ::close(fdBottom);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, strCipher.data(), strCipher.size()), static_cast<ssize_t>(strCipher.size()));
        ::close(fd);
    }
    for (const bool bOutputDir : {true, false}) {
        SCOPED_TRACE(bOutputDir ? "--output-dir" : "next to the inputs");
        const SCliResult result =
            bOutputDir ? test::RunCli({"--password-stdin", "-q", "-r", "--output-dir", "klar", "tief"},
                                      "geheim\n", InDir())
                       : test::RunCli({"--password-stdin", "-q", "-r", "tief"}, "geheim\n", InDir());
        EXPECT_EQ(result.nExitStatus, 0) << result.strStderr.substr(0, 300);
        const std::string strOut = bOutputDir ? m_dir / "klar" : m_dir / "tief";
        EXPECT_EQ(ReadFileBytes(strOut + "/e_z.bin"), strTop);
        const int fdBottom = FindChain(strOut, strName, kLevels);
        ASSERT_GE(fdBottom, 0);
        EXPECT_EQ(ReadAt(fdBottom, "e_a.bin"), strBottom);
        ::close(fdBottom);
    }
}

} // namespace
} // namespace brasko
