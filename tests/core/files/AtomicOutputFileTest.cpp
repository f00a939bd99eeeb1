#include "AtomicOutputFile.h"

#include "ExtendedAttributes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
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

struct SOwner
{
    uid_t uid;
    gid_t gid;
};

struct SOwnerCase
{
    const char* pszCase;
    bool bAsNobody;                 // the caller: nobody, else root
    SOwner folder;                  // of the output's folder
    mode_t folderMode;              // with S_ISGID for a setgid folder
    std::optional<SOwner> existing; // the file that is replaced (0666), or none
    bool bExistingAcl;              // which then carries the entry user:12345:rw
    SOwner input;                   // the input's owner (not used) and group
    mode_t inputMode;
    SOwner expected;
    mode_t expectedMode;
    bool bExpectedAcl;
};

// Writes "klar" through CAtomicOutputFile as root or nobody, in a process of its own; its exit status is the
// errno value of the first step that failed.
int WriteAs(bool bAsNobody, SOwner nobody, const std::string& strTarget, const SOutputSource& source)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::umask(022);
        if (bAsNobody &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(nobody.gid, nobody.gid, nobody.gid) != 0 ||
             ::setresuid(nobody.uid, nobody.uid, nobody.uid) != 0))
            ::_exit(255);
        CAtomicOutputFile output(strTarget, source);
        int nError = output.Open();
        if (nError == 0)
            nError = output.Write("klar", 4);
        if (nError == 0)
            nError = output.Commit();
        ::_exit(nError);
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 256;
}

// An output always belongs to the caller, whoever owned the file it replaces. Its group is the caller's
// unless a setgid folder's group is the input's too; without the input's group it loses the group's bits.
// Only the caller's own replaced file passes its ACL on.
TEST(OutputFileTest, AtomicOutputFile_OutputIsAlwaysTheCallers)
{
    const passwd* pNobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || pNobody == nullptr || pNobody->pw_uid == 0)
        GTEST_SKIP() << "needs root and a second user (nobody)";
    const SOwner root{0, 0};
    const SOwner nobody{pNobody->pw_uid, pNobody->pw_gid};
    const gid_t kTeam = 12345;
    const std::vector<SOwnerCase> cases = {
        {"another user's file in their folder", false, nobody, 0755, nobody, false, nobody, 0600, root, 0600,
         false},
        {"another user's file with an ACL entry", false, nobody, 0755, nobody, true, root, 0640, root, 0640,
         false},
        {"the caller's file with an ACL entry", false, root, 0755, root, true, root, 0640, root, 0640, true},
        {"setgid folder of another group", false, SOwner{0, kTeam}, 02775, std::nullopt, false, root, 0640,
         root, 0640, false},
        {"setgid folder of the input's group", false, SOwner{0, kTeam}, 02775, std::nullopt, false,
         SOwner{0, kTeam}, 0640, SOwner{0, kTeam}, 0640, false},
        {"input of another group", false, root, 0755, std::nullopt, false, SOwner{0, kTeam}, 0640, root, 0600,
         false},
        {"root's file in the caller's folder", true, nobody, 0755, root, true, nobody, 0640, nobody, 0640,
         false},
        {"setgid folder of another group, unprivileged", true, SOwner{0, kTeam}, 02777, std::nullopt, false,
         nobody, 0640, nobody, 0640, false},
    };
    const std::vector<char> acl =
        EncodeAcl({{kUserObj, 6, 0}, {kUser, 6, 12345}, {kGroupObj, 4, 0}, {kMask, 6, 0}, {kOther, 6, 0}});
    for (const SOwnerCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const CTempDir dir;
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        const std::string strFolder = dir / "f";
        ASSERT_EQ(::mkdir(strFolder.c_str(), 0700), 0);
        ASSERT_EQ(::chown(strFolder.c_str(), c.folder.uid, c.folder.gid), 0);
        ASSERT_EQ(::chmod(strFolder.c_str(), c.folderMode), 0);
        const std::string strTarget = strFolder + "/e_rechnung.pdf";
        if (c.existing) {
            MakeFile(strTarget, "alt", 0666);
            ASSERT_EQ(::chown(strTarget.c_str(), c.existing->uid, c.existing->gid), 0);
            if (c.bExistingAcl) {
                ASSERT_EQ(::setxattr(strTarget.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0),
                          0);
            }
        }
        SOutputSource source;
        source.nMode = c.inputMode | S_IWUSR;
        source.group = c.input.gid;
        ASSERT_EQ(WriteAs(c.bAsNobody, nobody, strTarget, source), 0);
        struct stat info
        {
        };
        ASSERT_EQ(::stat(strTarget.c_str(), &info), 0);
        EXPECT_EQ(ReadFileBytes(strTarget), "klar");
        EXPECT_EQ(info.st_uid, c.expected.uid);
        EXPECT_EQ(info.st_gid, c.expected.gid);
        EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
        EXPECT_EQ(::getxattr(strTarget.c_str(), "system.posix_acl_access", nullptr, 0) > 0, c.bExpectedAcl);
    }
}

} // namespace
} // namespace brasko
