// The one link rule for every path, and the folders outputs go to, checked as root and as an unprivileged
// user against links, folders and files that other users put into shared folders.
#include "PathResolver.h"

#include "AtomicOutputFile.h"
#include "FolderWalk.h"
#include "OutputFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brasko {
namespace {

using test::CTempDir;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr uid_t kOther = 12345;       // a user who is neither the caller nor a folder's owner
constexpr uid_t kFolderOwner = 23456; // the owner of the shared folders

struct SCaller
{
    uid_t uid = 0;
    gid_t gid = 0;
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

void Folder(const std::string& strPath, mode_t mode, uid_t uid)
{
    ASSERT_EQ(::mkdir(strPath.c_str(), 0700), 0) << strPath;
    ASSERT_EQ(::chown(strPath.c_str(), uid, uid), 0);
    ASSERT_EQ(::chmod(strPath.c_str(), mode), 0);
}

void Link(const std::string& strText, const std::string& strPath, uid_t uid)
{
    ASSERT_EQ(::symlink(strText.c_str(), strPath.c_str()), 0) << strPath;
    ASSERT_EQ(::lchown(strPath.c_str(), uid, uid), 0);
}

// Root builds the folders of other users; each case runs once as root and once as nobody.
class PathResolverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to create files and links of other users";
        ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
        m_callers.push_back(SCaller{0, 0, "root"});
        if (const passwd* pEntry = ::getpwnam("nobody"); pEntry != nullptr && pEntry->pw_uid != 0)
            m_callers.push_back(SCaller{pEntry->pw_uid, pEntry->pw_gid, "nobody"});
    }

    // A fresh tree for one caller: its own folder, a sticky shared folder, a team folder (2775) and a
    // world-writable one, the latter three owned by others.
    std::string Tree(const SCaller& caller)
    {
        const std::string strBase = m_dir / caller.strName;
        Folder(strBase, 0755, 0);
        Folder(strBase + "/own", 0755, caller.uid);
        Folder(strBase + "/shared", 01777, kFolderOwner);
        Folder(strBase + "/team", 02775, kFolderOwner);
        Folder(strBase + "/open", 0777, 0);
        WriteFileBytes(strBase + "/own/target", "alt");
        EXPECT_EQ(::chown((strBase + "/own/target").c_str(), caller.uid, caller.gid), 0);
        return strBase;
    }

    CTempDir m_dir;
    std::vector<SCaller> m_callers;
};

enum EReached : int
{
    kTarget = 0,    // the caller's own/target
    kRefused = 1,   // stopped at a link of an untrusted owner
    kLoop = 2,      // ELOOP
    kDangling = 3,  // a link to nothing
    kSomewhere = 4, // anything else
};

struct SResolveCase
{
    const char* pszPath;
    EReached expected;
};

// Every link on the way counts, in a folder part, at the end or inside a chain: one of another user in a
// sticky, team or world-writable folder stops the walk; one of the caller or the folder's owner is followed.
TEST_F(PathResolverTest, ResolvePath_AppliesTheLinkRuleToEveryLink)
{
    const std::vector<SResolveCase> cases = {
        {"shared/by-other/target", kRefused},
        {"shared/by-owner/target", kTarget},
        {"shared/by-caller/target", kTarget},
        {"team/by-member", kRefused},
        {"team/by-owner", kTarget},
        {"open/by-other", kRefused},
        {"own/chain", kRefused},
        {"own/good-chain", kTarget},
        {"own/absolute", kTarget},
        {"own/loop", kLoop},
        {"own/dangling", kDangling},
        {"own/../own/./target", kTarget},
        {"shared/by-owner/../own/target", kTarget},
    };
    for (const SCaller& caller : m_callers) {
        const std::string strBase = Tree(caller);
        Link("../own", strBase + "/shared/by-other", kOther);
        Link("../own", strBase + "/shared/by-owner", kFolderOwner);
        Link("../own", strBase + "/shared/by-caller", caller.uid);
        Link("../own/target", strBase + "/shared/file-by-other", kOther);
        Link("../own/target", strBase + "/team/by-member", kOther);
        Link("../own/target", strBase + "/team/by-owner", kFolderOwner);
        Link("../own/target", strBase + "/open/by-other", kOther);
        Link("../shared/file-by-other", strBase + "/own/chain", caller.uid);
        Link("../shared/by-owner/target", strBase + "/own/good-chain", caller.uid);
        Link(strBase + "/shared/by-caller/target", strBase + "/own/absolute", caller.uid);
        Link("loop", strBase + "/own/loop", caller.uid);
        Link("missing", strBase + "/own/dangling", caller.uid);
        struct stat target
        {
        };
        ASSERT_EQ(::stat((strBase + "/own/target").c_str(), &target), 0);
        for (const SResolveCase& c : cases) {
            SCOPED_TRACE(std::string(c.pszPath) + " as " + caller.strName);
            const int nReached = RunAs(caller, [&] {
                SResolvedPath resolved;
                const int nError = ResolvePath(AT_FDCWD, strBase + "/" + c.pszPath, true, resolved);
                if (nError == EACCES && resolved.bForeignLink)
                    return kRefused;
                if (nError == ELOOP)
                    return kLoop;
                if (nError == 0 && !resolved.entry && resolved.bThroughLink)
                    return kDangling;
                if (nError == 0 && resolved.entry && resolved.info.st_ino == target.st_ino &&
                    resolved.info.st_dev == target.st_dev && resolved.strName == "target")
                    return kTarget;
                return kSomewhere;
            });
            EXPECT_EQ(nReached, c.expected);
        }
    }
}

// An output's folder parts go by the same rule: a link of another user on the way to the output is not
// followed, and the caller's file behind it stays.
TEST_F(PathResolverTest, AtomicOutputFile_RefusesForeignLinkInFolderPart)
{
    for (const SCaller& caller : m_callers) {
        SCOPED_TRACE(caller.strName);
        const std::string strBase = Tree(caller);
        Link("../own", strBase + "/shared/by-other", kOther);
        Link("../own", strBase + "/team/by-owner", kFolderOwner);
        EXPECT_EQ(RunAs(caller,
                        [&] {
                            CAtomicOutputFile output(strBase + "/shared/by-other/target");
                            return output.Open() == EACCES && output.Refusal() == EOutputRefusal::ForeignLink
                                       ? 0
                                       : 1;
                        }),
                  0);
        EXPECT_EQ(ReadFileBytes(strBase + "/own/target"), "alt");
        EXPECT_EQ(RunAs(caller,
                        [&] {
                            CAtomicOutputFile output(strBase + "/team/by-owner/target");
                            return output.Open() == 0 && output.Write("neu", 3) == 0 && output.Commit() == 0
                                       ? 0
                                       : 1;
                        }),
                  0);
        EXPECT_EQ(ReadFileBytes(strBase + "/own/target"), "neu");
    }
}

struct SFolderCase
{
    const char* pszBase;
    const char* pszSub;
    int nError;             // expected from OpenOutputFolder
    const char* pszRefused; // the folder named as refused, or nullptr
};

// Output folders: made by the caller where missing; one that another user made in a shared or team folder,
// or another user's link, is refused by name; a link at a folder's place is never followed.
TEST_F(PathResolverTest, OpenOutputFolder_RefusesForeignFoldersAndLinks)
{
    const std::vector<SFolderCase> cases = {
        {"shared/foreign", "2019/", EACCES, "shared/foreign/"},
        {"shared/mine", "2019/a/", EACCES, "shared/mine/2019/"},
        {"shared/theirs-link", "", EACCES, "shared/theirs-link"},
        {"shared/mine", "planted/", EACCES, "shared/mine/planted/"},
        {"own/out", "2019/", ELOOP, nullptr},
        {"team/klar", "", EACCES, "team/klar/"},
        {"team/boss", "x/y/", 0, nullptr},
        {"shared/by-owner", "", 0, nullptr},
        {"own/fresh", "a/b/", 0, nullptr},
    };
    for (const SCaller& caller : m_callers) {
        const std::string strBase = Tree(caller);
        Folder(strBase + "/shared/foreign", 0777, kOther);
        Folder(strBase + "/shared/mine", 0777, caller.uid);
        Folder(strBase + "/shared/mine/2019", 0777, kOther);
        Link("../../own", strBase + "/shared/mine/planted", kOther);
        Link("../own", strBase + "/shared/theirs-link", kOther);
        Folder(strBase + "/shared/by-owner", 0777, kFolderOwner);
        Folder(strBase + "/own/out", 0755, caller.uid);
        Folder(strBase + "/own/victim", 0755, caller.uid);
        Link("../victim", strBase + "/own/out/2019", caller.uid);
        Folder(strBase + "/own/fresh", 0755, caller.uid);
        Folder(strBase + "/team/klar", 0777, kOther);
        Folder(strBase + "/team/boss", 0777, kFolderOwner);
        for (const SFolderCase& c : cases) {
            SCOPED_TRACE(std::string(c.pszBase) + " " + c.pszSub + " as " + caller.strName);
            const std::string strExpected = c.pszRefused != nullptr ? strBase + "/" + c.pszRefused : "";
            const int nResult = RunAs(caller, [&] {
                CFileHandle folder;
                bool bRefused = false;
                std::string strRefused;
                const int nError =
                    OpenOutputFolder(strBase + "/" + c.pszBase, c.pszSub, folder, bRefused, strRefused);
                struct stat info
                {
                };
                if (nError == 0 && *c.pszSub != '\0' &&
                    (::fstat(folder.Get(), &info) != 0 || info.st_uid != caller.uid))
                    return 100;
                return nError == c.nError && bRefused == (c.pszRefused != nullptr) &&
                               strRefused == strExpected
                           ? 0
                           : 101;
            });
            EXPECT_EQ(nResult, 0);
        }
        EXPECT_FALSE(std::filesystem::exists(strBase + "/own/victim/2019"));
        EXPECT_TRUE(std::filesystem::is_directory(strBase + "/own/fresh/a/b"));
    }
}

// The walk holds a bounded number of folders open: a tree deeper than the descriptors a process may have is
// walked whole, the folders closed on the way down found again on the way up, and a folder that cannot be
// opened fails alone.
TEST(FolderWalkDepth, AddFolder_DeeperThanTheDescriptorLimit)
{
    constexpr int kLevels = 300;
    const CTempDir dir;
    std::string strPath = dir / "baum";
    for (int i = 0; i < kLevels; ++i) {
        ASSERT_EQ(::mkdir(strPath.c_str(), 0755), 0);
        strPath += "/d";
    }
    WriteFileBytes(strPath.substr(0, strPath.size() - 2) + "/unten.bin", "x");
    WriteFileBytes(dir / "baum/z.bin", "x");
    ASSERT_EQ(::mkdir((dir / "baum/gesperrt").c_str(), 0755), 0);
    WriteFileBytes(dir / "baum/gesperrt/y.bin", "x");
    ASSERT_EQ(::chmod((dir / "baum/gesperrt").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    // As nobody (where the test runs as root) the locked folder cannot be opened; root opens it all the same.
    const SCaller caller = [] {
        const passwd* pEntry = ::getpwnam("nobody");
        return ::geteuid() == 0 && pEntry != nullptr ? SCaller{pEntry->pw_uid, pEntry->pw_gid, "nobody"}
                                                     : SCaller{};
    }();
    const bool bLocked = caller.uid != 0 || ::geteuid() != 0;
    const std::string strRoot = dir / "baum/";
    std::vector<std::string> expected = {strPath.substr(0, strPath.size() - 2) + "/unten.bin"};
    if (!bLocked)
        expected.push_back(strRoot + "gesperrt/y.bin");
    expected.push_back(strRoot + "z.bin");
    const int nResult = RunAs(caller, [&] {
        const rlimit limit{128, 128};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 10;
        SInputList list;
        if (!AddFolder(dir / "baum", list))
            return 11;
        if (list.paths != expected || list.subFolders.size() != expected.size() ||
            !list.subFolders.back().empty())
            return 12;
        const std::vector<std::pair<std::string, int>> unreadable = {{strRoot + "gesperrt/", EACCES}};
        if (list.unreadableFolders != (bLocked ? unreadable : std::vector<std::pair<std::string, int>>{}))
            return 13;
        return 0;
    });
    EXPECT_EQ(nResult, 0);
}

} // namespace
} // namespace brasko
