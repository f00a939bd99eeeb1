#include "AtomicOutputFile.h"

#include "ExtendedAttributes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CTempDir;
using test::ReadFileBytes;
using test::WriteFileBytes;

void MakeFile(const std::string& strPath, const std::string& strContent, mode_t mode)
{
    WriteFileBytes(strPath, strContent);
    ASSERT_EQ(::chmod(strPath.c_str(), mode), 0);
}

// An access ACL as the kernel stores it: version 2, then per entry tag, permissions (2 bytes each) and id
// (4 bytes), little endian.
struct SAclEntry
{
    unsigned nTag;
    unsigned nPerm;
    std::uint32_t nId;
};
constexpr unsigned kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kGroup = 0x08, kMask = 0x10,
                   kOther = 0x20;

std::vector<char> EncodeAcl(const std::vector<SAclEntry>& entries, unsigned nVersion = 2)
{
    std::vector<char> acl;
    const auto put = [&](std::uint32_t nValue, int nBytes) {
        for (int i = 0; i < nBytes; ++i)
            acl.push_back(static_cast<char>((nValue >> (8 * i)) & 0xff));
    };
    put(nVersion, 4);
    for (const SAclEntry& entry : entries) {
        put(entry.nTag, 2);
        put(entry.nPerm, 2);
        put(entry.nId, 4);
    }
    return acl;
}

// The copy of an ACL grants nothing beyond the owner until the final mode is applied: the mask (or, without
// one, the owning group) and others lose every permission, the owner may read and write, named entries keep
// theirs (the mask limits them). What is no version-2 ACL is refused.
TEST(ExtendedAttributes, CloseAcl_LeavesOnlyTheOwnerIn)
{
    struct SCase
    {
        const char* pszCase;
        std::vector<SAclEntry> acl;
        std::vector<SAclEntry> closed;
    };
    const std::vector<SCase> cases = {
        {"with mask",
         {{kUserObj, 7, 0},
          {kUser, 6, 12345},
          {kGroupObj, 5, 0},
          {kGroup, 7, 100},
          {kMask, 7, 0},
          {kOther, 4, 0}},
         {{kUserObj, 6, 0},
          {kUser, 6, 12345},
          {kGroupObj, 5, 0},
          {kGroup, 7, 100},
          {kMask, 0, 0},
          {kOther, 0, 0}}},
        {"without mask",
         {{kUserObj, 4, 0}, {kGroupObj, 6, 0}, {kOther, 6, 0}},
         {{kUserObj, 6, 0}, {kGroupObj, 0, 0}, {kOther, 0, 0}}},
    };
    for (const SCase& c : cases) {
        std::vector<char> acl = EncodeAcl(c.acl);
        EXPECT_TRUE(CloseAcl(acl)) << c.pszCase;
        EXPECT_EQ(acl, EncodeAcl(c.closed)) << c.pszCase;
    }
    std::vector<char> wrongVersion = EncodeAcl({{kUserObj, 7, 0}}, 1);
    EXPECT_FALSE(CloseAcl(wrongVersion));
    std::vector<char> cut = EncodeAcl({{kUserObj, 7, 0}});
    cut.pop_back();
    EXPECT_FALSE(CloseAcl(cut));
}

// A named temporary file that takes over an ACL is closed to everyone but its owner while it is written.
TEST(OutputFileTest, AtomicOutputFile_NamedTemporaryFileTakesAclClosed)
{
    if (test::RunShell("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl/getfacl missing (package acl, see scripts/install-deps)";
    const CTempDir dir;
    MakeFile(dir / "out", "alt", 0664);
    ASSERT_EQ(test::RunShell("setfacl -m u:12345:rw '" + (dir / "out") + "'"), 0);
    CAtomicOutputFile output(dir / "out", {}, ETemporaryFile::Named);
    ASSERT_EQ(output.Open(), 0);
    const std::vector<std::string> names = dir.List();
    ASSERT_EQ(names.size(), 2U);
    ASSERT_EQ(test::RunShell("getfacl -n --absolute-names --omit-header --no-effective '" + (dir / names[0]) +
                             "' > '" + (dir / "acl.txt") + "'"),
              0);
    EXPECT_EQ(ReadFileBytes(dir / "acl.txt"),
              "user::rw-\nuser:12345:rw-\ngroup::rw-\nmask::---\nother::---\n\n");
}

// The named temporary file, used where a file system refuses O_TMPFILE: 0600 and locked while it is
// written whatever the umask, gone without a Commit(). Both kinds end in the same file.
TEST(OutputFileTest, AtomicOutputFile_TemporaryFileIsPrivateAndLeavesNothing)
{
    const mode_t previous = ::umask(0);
    for (const ETemporaryFile temporary : {ETemporaryFile::Named, ETemporaryFile::Unnamed}) {
        SCOPED_TRACE(temporary == ETemporaryFile::Named ? "named" : "unnamed");
        const CTempDir dir;
        {
            CAtomicOutputFile output(dir / "out", {}, temporary);
            ASSERT_EQ(output.Open(), 0);
            ASSERT_EQ(output.Write("abandoned", 9), 0);
            const std::vector<std::string> names = dir.List();
            if (temporary == ETemporaryFile::Unnamed) {
                EXPECT_TRUE(output.IsUnnamed()) << "the file system here refuses O_TMPFILE";
                EXPECT_TRUE(names.empty());
                continue;
            }
            ASSERT_EQ(names.size(), 1U);
            EXPECT_TRUE(names[0].starts_with(".out.") && names[0].ends_with(".tmp")) << names[0];
            struct stat info
            {
            };
            ASSERT_EQ(::stat((dir / names[0]).c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0600U);
            // A lock of another open file description conflicts with the writer's lock.
            const int fd = ::open((dir / names[0]).c_str(), O_RDONLY | O_CLOEXEC);
            struct flock lock
            {
            };
            lock.l_type = F_RDLCK;
            lock.l_whence = SEEK_SET;
            ASSERT_EQ(::fcntl(fd, F_OFD_GETLK, &lock), 0);
            ::close(fd);
            EXPECT_EQ(lock.l_type, F_WRLCK);
        }
        EXPECT_TRUE(dir.List().empty());
        SOutputSource source;
        source.nMode = 0640;
        CAtomicOutputFile output(dir / "out", source, temporary);
        ASSERT_EQ(output.Open(), 0);
        ASSERT_EQ(output.Write("done", 4), 0);
        ASSERT_EQ(output.Commit(), 0);
        EXPECT_EQ(dir.List(), std::vector<std::string>{"out"});
        EXPECT_EQ(ReadFileBytes(dir / "out"), "done");
        EXPECT_EQ(fs::status(dir / "out").permissions(), fs::perms(0640));
    }
    ::umask(previous);
}

// A target whose name the caller saw free is created in its folder, found by the link rule, without a look at
// the name; whatever has come to stand there since the caller looked (a file of the caller's, a link to a
// file, a link to nothing, a folder) is neither replaced nor followed, and nothing is left behind.
TEST(OutputFileTest, AtomicOutputFile_NameSeenFreeReplacesAndFollowsNothing)
{
    const CTempDir dir;
    fs::create_directories(dir / "sub");
    fs::create_directory_symlink(dir / "sub", dir / "link");
    for (const std::string strName : {"link/new", "new"}) {
        const int fdStart = ::open(dir.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fdStart, 0);
        CAtomicOutputFile output(strName, {}, ETemporaryFile::Unnamed, fdStart, ETargetName::SeenFree);
        const int nOpened = output.Open();
        ::close(fdStart);
        ASSERT_EQ(nOpened, 0);
        ASSERT_EQ(output.Write("done", 4), 0);
        ASSERT_EQ(output.Commit(), 0);
        EXPECT_EQ(ReadFileBytes(dir / (strName == "new" ? "new" : "sub/new")), "done");
    }
    fs::remove(dir / "new");
    WriteFileBytes(dir / "elsewhere", "alt");
    const std::string strTarget = dir / "sub/out";
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"file", [&] { WriteFileBytes(strTarget, "alt"); }},
        {"link to a file", [&] { fs::create_symlink(dir / "elsewhere", strTarget); }},
        {"link to nothing", [&] { fs::create_symlink(dir / "nowhere", strTarget); }},
        {"folder", [&] { fs::create_directory(strTarget); }},
    };
    for (const auto& [strCase, put] : cases) {
        SCOPED_TRACE(strCase);
        put(); // since the caller looked
        CAtomicOutputFile output(strTarget, {}, ETemporaryFile::Unnamed, AT_FDCWD, ETargetName::SeenFree);
        ASSERT_EQ(output.Open(), 0);
        ASSERT_EQ(output.Write("done", 4), 0);
        EXPECT_EQ(output.Commit(), EEXIST);
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"elsewhere", "link", "sub"}));
        EXPECT_EQ(ReadFileBytes(dir / "elsewhere"), "alt");
        if (fs::is_regular_file(fs::symlink_status(strTarget))) {
            EXPECT_EQ(ReadFileBytes(strTarget), "alt");
        } else if (fs::is_directory(fs::symlink_status(strTarget))) {
            EXPECT_TRUE(fs::is_empty(strTarget));
        }
        fs::remove(strTarget);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);
    }
}

// Writes "klar" through CAtomicOutputFile as root or as the user nobody, in a process of its own; its exit
// status is the errno value of the step that failed.
int WriteAs(const passwd* pUser, const std::string& strTarget, const SOutputSource& source)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::umask(022);
        if (pUser != nullptr &&
            (::setgroups(0, nullptr) != 0 || ::setgid(pUser->pw_gid) != 0 || ::setuid(pUser->pw_uid) != 0))
            ::_exit(255);
        CAtomicOutputFile output(strTarget, source);
        int nError = output.Open();
        nError = nError != 0 ? nError : output.Write("klar", 4);
        ::_exit(nError != 0 ? nError : output.Commit());
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 256;
}

// An output always belongs to the caller, whoever owned the file it replaces, and only the caller's own
// replaced file passes its ACL on. Its group is the caller's unless a setgid folder's group is the input's
// too; a group that is not the input's gets no permissions.
TEST(OutputFileTest, AtomicOutputFile_OutputIsAlwaysTheCallers)
{
    const passwd* pNobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || pNobody == nullptr || pNobody->pw_uid == 0)
        GTEST_SKIP() << "needs root and a second user (nobody)";
    const uid_t nb = pNobody->pw_uid;
    const gid_t nbGroup = pNobody->pw_gid;
    const gid_t kTeam = 12345;
    struct SCase
    {
        const char* pszCase;
        bool bAsNobody;
        uid_t folderUid;
        gid_t folderGid;
        mode_t folderMode;
        std::optional<uid_t> existing; // the owner of a replaced file (0666, ACL entry user:12345:rw)
        gid_t inputGid;
        mode_t inputMode;
        gid_t expectedGid;
        mode_t expectedMode;
    };
    const std::vector<SCase> cases = {
        {"another user's file in their folder", false, nb, nbGroup, 0755, nb, 0, 0600, 0, 0600},
        {"the caller's file", false, 0, 0, 0755, 0, 0, 0640, 0, 0640},
        {"setgid folder of another group", false, 0, kTeam, 02775, std::nullopt, 0, 0640, 0, 0640},
        {"setgid folder of the input's group", false, 0, kTeam, 02775, std::nullopt, kTeam, 0640, kTeam,
         0640},
        {"input of another group", false, 0, 0, 0755, std::nullopt, kTeam, 0640, 0, 0600},
        {"root's file in the caller's folder", true, nb, nbGroup, 0755, 0, nbGroup, 0640, nbGroup, 0640},
        {"setgid folder of another group", true, 0, kTeam, 02777, std::nullopt, nbGroup, 0640, nbGroup, 0640},
    };
    const std::vector<char> acl =
        EncodeAcl({{kUserObj, 6, 0}, {kUser, 6, 12345}, {kGroupObj, 4, 0}, {kMask, 6, 0}, {kOther, 6, 0}});
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.pszCase) + (c.bAsNobody ? " (nobody)" : " (root)"));
        const CTempDir dir;
        const std::string strTarget = dir / "f/e_rechnung.pdf";
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((dir / "f").c_str(), 0700), 0);
        ASSERT_EQ(::chown((dir / "f").c_str(), c.folderUid, c.folderGid), 0);
        ASSERT_EQ(::chmod((dir / "f").c_str(), c.folderMode), 0);
        if (c.existing) {
            MakeFile(strTarget, "alt", 0666);
            ASSERT_EQ(::chown(strTarget.c_str(), *c.existing, static_cast<gid_t>(-1)), 0);
            ASSERT_EQ(::setxattr(strTarget.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
        }
        SOutputSource source;
        source.nMode = c.inputMode | S_IWUSR;
        source.group = c.inputGid;
        const uid_t caller = c.bAsNobody ? nb : 0;
        ASSERT_EQ(WriteAs(c.bAsNobody ? pNobody : nullptr, strTarget, source), 0);
        struct stat info
        {
        };
        ASSERT_EQ(::stat(strTarget.c_str(), &info), 0);
        EXPECT_EQ(ReadFileBytes(strTarget), "klar");
        EXPECT_EQ(info.st_uid, caller);
        EXPECT_EQ(info.st_gid, c.expectedGid);
        EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
        EXPECT_EQ(::getxattr(strTarget.c_str(), "system.posix_acl_access", nullptr, 0) > 0,
                  c.existing == caller);
    }
}

} // namespace
} // namespace brasko
