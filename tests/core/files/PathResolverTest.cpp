// The one link rule for every path and the folders outputs go to, run as root and as nobody against links
// and folders that other users put into shared folders.
#include "PathResolver.h"

#include "AtomicOutputFile.h"
#include "OutputFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brasko {
namespace {

using test::ReadFileBytes;

constexpr uid_t kOther = 12345;       // neither the caller nor a folder's owner
constexpr uid_t kFolderOwner = 23456; // the owner of the shared folders
constexpr uid_t kCaller = 99999;      // stands for the caller in the tables

struct SCaller
{
    uid_t uid;
    gid_t gid;
    std::string strName;
};

// Runs fn in a forked child as the caller; its exit status, -1 when it did not exit.
int RunAs(const SCaller& caller, const std::function<int()>& fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (caller.uid != 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(caller.gid, caller.gid, caller.gid) != 0 ||
             ::setresuid(caller.uid, caller.uid, caller.uid) != 0))
            ::_exit(99);
        ::_exit(fn());
    }
    int nStatus = 0;
    if (pid < 0 || ::waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus))
        return -1;
    return WEXITSTATUS(nStatus);
}

// A folder (pszLink nullptr) or a link of a test tree.
struct SEntry
{
    const char* pszPath;
    mode_t mode;
    uid_t owner;
    const char* pszLink = nullptr;
};

// The common part: the caller's folder with its file "target", a sticky shared folder, a team folder (2775)
// and a world-writable one.
const std::vector<SEntry> kBaseTree = {{"own", 0755, kCaller},
                                       {"shared", 01777, kFolderOwner},
                                       {"team", 02775, kFolderOwner},
                                       {"open", 0777, 0}};

class PathResolverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to create folders and links of other users";
        ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
        m_callers.push_back(SCaller{0, 0, "root"});
        if (const passwd* pEntry = ::getpwnam("nobody"); pEntry != nullptr && pEntry->pw_uid != 0)
            m_callers.push_back(SCaller{pEntry->pw_uid, pEntry->pw_gid, "nobody"});
    }

    // A fresh tree of kBaseTree and the entries given, for one caller; returns its folder.
    std::string Tree(const SCaller& caller, const std::vector<SEntry>& entries)
    {
        std::string strBase = m_dir / caller.strName;
        EXPECT_EQ(::mkdir(strBase.c_str(), 0755), 0);
        for (const std::vector<SEntry>* pList : {&kBaseTree, &entries}) {
            for (const SEntry& entry : *pList) {
                const std::string strPath = strBase + "/" + entry.pszPath;
                const uid_t owner = entry.owner == kCaller ? caller.uid : entry.owner;
                if (entry.pszLink != nullptr) {
                    EXPECT_EQ(::symlink(entry.pszLink, strPath.c_str()), 0) << strPath;
                } else {
                    EXPECT_EQ(::mkdir(strPath.c_str(), 0700), 0) << strPath;
                    EXPECT_EQ(::chmod(strPath.c_str(), entry.mode), 0);
                }
                EXPECT_EQ(::lchown(strPath.c_str(), owner, owner), 0);
            }
        }
        test::WriteFileBytes(strBase + "/own/target", "alt");
        EXPECT_EQ(::chown((strBase + "/own/target").c_str(), caller.uid, caller.gid), 0);
        return strBase;
    }

    test::CTempDir m_dir;
    std::vector<SCaller> m_callers;
};

enum EReached : int
{
    kTarget,    // the caller's own/target
    kRefused,   // stopped at a link of an untrusted owner
    kLoop,      // ELOOP
    kDangling,  // a link to nothing
    kSomewhere, // anything else
};

// Every link on the way counts, in a folder part, at the end or inside a chain: one of another user in a
// sticky, team or world-writable folder stops the walk; one of the caller or the folder's owner is followed.
// An output's folder parts go by the same rule.
TEST_F(PathResolverTest, ResolvePath_AppliesTheLinkRuleToEveryLink)
{
    const std::vector<std::pair<const char*, EReached>> cases = {
        {"shared/by-other/target", kRefused},
        {"shared/by-owner/target", kTarget},
        {"shared/by-caller/target", kTarget},
        {"team/by-member", kRefused},
        {"team/by-owner", kTarget},
        {"open/by-other", kRefused},
        {"own/chain", kRefused},
        {"own/good-chain", kTarget},
        {"own/loop", kLoop},
        {"own/dangling", kDangling},
        {"own/../own/./target", kTarget},
        {"shared/by-owner/../own/target", kTarget},
    };
    for (const SCaller& caller : m_callers) {
        const std::string strBase = Tree(caller, {{"shared/by-other", 0, kOther, "../own"},
                                                  {"shared/by-owner", 0, kFolderOwner, "../own"},
                                                  {"shared/by-caller", 0, kCaller, "../own"},
                                                  {"shared/file-by-other", 0, kOther, "../own/target"},
                                                  {"team/by-member", 0, kOther, "../own/target"},
                                                  {"team/by-owner", 0, kFolderOwner, "../own/target"},
                                                  {"open/by-other", 0, kOther, "../own/target"},
                                                  {"own/chain", 0, kCaller, "../shared/file-by-other"},
                                                  {"own/good-chain", 0, kCaller, "../shared/by-owner/target"},
                                                  {"own/loop", 0, kCaller, "loop"},
                                                  {"own/dangling", 0, kCaller, "missing"}});
        struct stat target
        {
        };
        ASSERT_EQ(::stat((strBase + "/own/target").c_str(), &target), 0);
        for (const auto& [pszPath, expected] : cases) {
            SCOPED_TRACE(std::string(pszPath) + " as " + caller.strName);
            EXPECT_EQ(
                RunAs(caller,
                      [&, pszPath = pszPath] {
                          SResolvedPath resolved;
                          const int nError = ResolvePath(AT_FDCWD, strBase + "/" + pszPath, true, resolved);
                          if (nError == EACCES && resolved.bForeignLink)
                              return kRefused;
                          if (nError == ELOOP || (nError == 0 && !resolved.entry && resolved.bThroughLink))
                              return nError == ELOOP ? kLoop : kDangling;
                          const bool bTarget = nError == 0 && resolved.entry &&
                                               resolved.strName == "target" &&
                                               resolved.info.st_ino == target.st_ino;
                          return bTarget ? kTarget : kSomewhere;
                      }),
                expected);
        }
        EXPECT_EQ(RunAs(caller,
                        [&] {
                            CAtomicOutputFile output(strBase + "/shared/by-other/target");
                            return output.Open() == EACCES && output.Refusal() == EOutputRefusal::ForeignLink
                                       ? 0
                                       : 1;
                        }),
                  0);
        EXPECT_EQ(ReadFileBytes(strBase + "/own/target"), "alt");
    }
}

struct SFolderCase
{
    const char* pszBase;
    const char* pszSub;
    int nError;             // expected from COutputFolders::Open
    const char* pszRefused; // the folder named as refused, or nullptr
};

// Output folders: made by the caller where missing; one that another user made in a shared or team folder,
// or another user's link, is refused by name; a link at a folder's place is never followed.
TEST_F(PathResolverTest, OutputFolders_RefuseForeignFoldersAndLinks)
{
    const std::vector<SFolderCase> cases = {
        {"shared/foreign", "2019/", EACCES, "shared/foreign/"},
        {"shared/mine", "2019/a/", EACCES, "shared/mine/2019/"},
        {"shared/theirs-link", "", EACCES, "shared/theirs-link"},
        {"shared/mine", "planted/", EACCES, "shared/mine/planted/"},
        {"own/out", "2019/", ELOOP, nullptr},
        {"team/klar", "", EACCES, "team/klar/"},
        {"team/boss", "x/y/", 0, nullptr},
        {"own/fresh", "a/b/", 0, nullptr},
    };
    for (const SCaller& caller : m_callers) {
        const std::string strBase = Tree(caller, {{"shared/foreign", 0777, kOther},
                                                  {"shared/mine", 0777, kCaller},
                                                  {"shared/mine/2019", 0777, kOther},
                                                  {"shared/mine/planted", 0, kOther, "../../own"},
                                                  {"shared/theirs-link", 0, kOther, "../own"},
                                                  {"own/out", 0755, kCaller},
                                                  {"own/victim", 0755, kCaller},
                                                  {"own/out/2019", 0, kCaller, "../victim"},
                                                  {"own/fresh", 0755, kCaller},
                                                  {"team/klar", 0777, kOther},
                                                  {"team/boss", 0777, kFolderOwner}});
        for (const SFolderCase& c : cases) {
            SCOPED_TRACE(std::string(c.pszBase) + " " + c.pszSub + " as " + caller.strName);
            const std::string strExpected = c.pszRefused != nullptr ? strBase + "/" + c.pszRefused : "";
            EXPECT_EQ(RunAs(caller,
                            [&] {
                                COutputFolders folders(strBase + "/" + c.pszBase);
                                int fdFolder = -1;
                                bool bRefused = false;
                                std::string strRefused;
                                const int nError = folders.Open(c.pszSub, fdFolder, bRefused, strRefused);
                                struct stat info
                                {
                                };
                                if (nError == 0 &&
                                    (::fstat(fdFolder, &info) != 0 || info.st_uid != caller.uid))
                                    return 2;
                                return nError == c.nError && strRefused == strExpected &&
                                               bRefused == (c.pszRefused != nullptr)
                                           ? 0
                                           : 1;
                            }),
                      0);
        }
        EXPECT_FALSE(std::filesystem::exists(strBase + "/own/victim/2019"));
    }
}

// The folders kept from one file to the next: a folder swapped for a link (to a folder of the caller's, which
// the link rule alone would let through) after the previous file was opened in it is not followed; the next
// file comes from the folder that was resolved, and a fresh walk refuses the walked folder that is a link
// now.
TEST(FolderCacheTest, FolderSwappedForALinkAfterTheLastFileIsNotFollowed)
{
    const test::CTempDir dir;
    for (const char* pszFolder : {"in", "in/sub", "out", "out/sub", "geheim"})
        ASSERT_EQ(::mkdir((dir / pszFolder).c_str(), 0755), 0);
    test::WriteFileBytes(dir / "in/sub/a.bin", "a");
    test::WriteFileBytes(dir / "in/sub/b.bin", "eigen");
    test::WriteFileBytes(dir / "geheim/b.bin", "geheim");
    const auto swap = [&](const std::string& strFolder) {
        ASSERT_EQ(::rename((dir / strFolder).c_str(), (dir / (strFolder + ".alt")).c_str()), 0);
        ASSERT_EQ(::symlink("../geheim", (dir / strFolder).c_str()), 0);
    };
    const std::size_t nWalked = std::string("sub/b.bin").size();
    const auto read = [&](CFileOpener& opener, const std::string& strName, int& nError) {
        int fdFolder = -1;
        const CFileHandle file = opener.Open(dir / ("in/sub/" + strName), O_RDONLY, nWalked, fdFolder);
        nError = file ? 0 : errno;
        std::string strBytes(16, '\0');
        const ssize_t nRead = file ? ::read(file.Get(), strBytes.data(), strBytes.size()) : 0;
        strBytes.resize(nRead > 0 ? static_cast<std::size_t>(nRead) : 0);
        return strBytes;
    };
    CFileOpener opener;
    int nError = 0;
    EXPECT_EQ(read(opener, "a.bin", nError), "a");
    COutputFolders folders(dir / "out");
    int fdOut = -1;
    bool bRefused = false;
    std::string strRefused;
    ASSERT_EQ(folders.Open("sub/", fdOut, bRefused, strRefused), 0);
    struct stat before
    {
    };
    ASSERT_EQ(::fstat(fdOut, &before), 0);

    swap("in/sub");
    swap("out/sub");
    EXPECT_EQ(read(opener, "b.bin", nError), "eigen");
    ASSERT_EQ(folders.Open("sub/", fdOut, bRefused, strRefused), 0);
    struct stat after
    {
    };
    ASSERT_EQ(::fstat(fdOut, &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(::mkdirat(fdOut, "probe", 0700), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "out/sub.alt/probe"));

    CFileOpener fresh;
    EXPECT_EQ(read(fresh, "b.bin", nError), "");
    EXPECT_EQ(nError, ELOOP);
    COutputFolders freshFolders(dir / "out");
    EXPECT_EQ(freshFolders.Open("sub/", fdOut, bRefused, strRefused), ELOOP);
    EXPECT_FALSE(std::filesystem::exists(dir / "geheim/probe"));
}

} // namespace
} // namespace brasko
