// Outputs in folders that other users share, and inputs that change while they are read.
#include "AtomicOutputFile.h"
#include "DecryptStream.h"
#include "FileDecryptor.h"
#include "Messages.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CRecordingMessageSink;
using test::CTempDir;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

const std::string kKey = "pw" + std::string(22, ' ');
constexpr uid_t kOther = 12345;       // a user who is neither the caller nor a folder's owner
constexpr uid_t kFolderOwner = 23456; // the owner of the shared folders

struct SUser
{
    uid_t uid;
    gid_t gid;
};

// The unprivileged user the tests run the decryption as; empty where there is none.
std::optional<SUser> SecondUser()
{
    const passwd* pEntry = ::getpwnam("nobody");
    if (pEntry == nullptr || pEntry->pw_uid == 0)
        return std::nullopt;
    return SUser{pEntry->pw_uid, pEntry->pw_gid};
}

void Own(const std::string& strPath, uid_t uid, gid_t gid)
{
    ASSERT_EQ(::lchown(strPath.c_str(), uid, gid), 0) << strPath;
}

void MakeFolder(const std::string& strPath, mode_t mode, uid_t uid)
{
    ASSERT_EQ(::mkdir(strPath.c_str(), 0700), 0) << strPath;
    Own(strPath, uid, uid);
    ASSERT_EQ(::chmod(strPath.c_str(), mode), 0);
}

void MakeFile(const std::string& strPath, const std::string& strContent, mode_t mode,
              std::optional<std::pair<uid_t, gid_t>> owner = std::nullopt)
{
    WriteFileBytes(strPath, strContent);
    if (owner)
        Own(strPath, owner->first, owner->second);
    ASSERT_EQ(::chmod(strPath.c_str(), mode), 0);
}

// A file's content, or for a long one its size and hash, so that a failure shows a readable difference.
std::string Summary(const std::string& strContent)
{
    if (strContent.size() <= 64)
        return strContent;
    return std::to_string(strContent.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>{}(strContent));
}

// Every entry under a folder: a file's content, a link's text, "<folder>" for a folder.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string strName = fs::relative(entry.path(), folder).string();
        if (entry.is_symlink())
            entries[strName] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[strName] = "<folder>";
        else
            entries[strName] = Summary(ReadFileBytes(entry.path()));
    }
    return entries;
}

struct SChild
{
    pid_t pid = -1;
    int fdOutput = -1;
};

// Starts decrypt-child (see DecryptChild.cpp), as the given user through setpriv, its output in a pipe.
// A spawned process keeps the decrypting threads away from a fork().
SChild StartChild(const std::vector<std::string>& args, std::optional<SUser> user)
{
    std::vector<std::string> command;
    if (user)
        command = {"setpriv", "--reuid=" + std::to_string(user->uid), "--regid=" + std::to_string(user->gid),
                   "--clear-groups"};
    command.emplace_back(BRASKO_DECRYPT_CHILD);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& strArg : command)
        argv.push_back(strArg.data());
    argv.push_back(nullptr);

    std::array<int, 2> pipeEnds{};
    SChild child;
    if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0)
        return child;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (::posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child.pid = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    child.fdOutput = pipeEnds[0];
    return child;
}

std::string ReadLine(int fd)
{
    std::string strLine;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        strLine += c;
    return strLine;
}

struct SChildResult
{
    std::string strOutcome; // "<EDecryptError> <errno>"
    std::vector<std::string> messages;
};

SChildResult RunChild(const std::vector<std::string>& args, std::optional<SUser> user)
{
    const SChild child = StartChild(args, user);
    SChildResult result;
    for (std::string strLine = ReadLine(child.fdOutput); !strLine.empty();
         strLine = ReadLine(child.fdOutput)) {
        if (strLine.starts_with("message: "))
            result.messages.push_back(strLine.substr(9));
        else
            result.strOutcome = strLine;
    }
    ::close(child.fdOutput);
    int nStatus = 0;
    ::waitpid(child.pid, &nStatus, 0);
    return result;
}

int ErrorOf(const SChildResult& result)
{
    return result.strOutcome.empty() ? -1 : std::stoi(result.strOutcome);
}

// Root builds files of other users; the decryption runs as root or as an unprivileged user.
class SharedFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to create files and links of other users";
        m_user = SecondUser();
        if (!m_user)
            GTEST_SKIP() << "no second user (nobody) to decrypt as";
        ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
    }

    std::string Path(const std::string& strName) const { return m_dir / strName; }

    CTempDir m_dir;
    std::optional<SUser> m_user;
    const std::string m_strPlain = RandomBytes(40, 21);
    const std::string m_strCipher = OpenSslEncrypt(kKey, m_strPlain);
};

enum class EOwner
{
    Caller,
    FolderOwner,
    Other,
};

struct SOutputCase
{
    const char* pszName;
    EOwner owner;              // of what stands at shared/e_in.enc
    const char* pszLinkTarget; // a link's text, or nullptr for a regular file (0666)
    EDecryptError error;       // expected
    std::string (*pMessage)(const std::string&, const std::string&);
    const char* pszReplaced; // the file that then holds the plaintext, or nullptr
};

// In a sticky, world-writable folder a link or file of another user is neither followed nor replaced, and
// a link to nothing is never followed; anything else is. Nothing else changes, nothing is left behind.
TEST_F(SharedFolderTest, DecryptFile_FollowsAndReplacesOnlyWhatTheKernelWould)
{
    const std::vector<SOutputCase> cases = {
        {"foreign link to a file anyone may replace", EOwner::Other, "../open/victim.txt",
         EDecryptError::OutputRefused, &messages::OutputIsForeignLink, nullptr},
        {"foreign link to the caller's file", EOwner::Other, "../own/target.txt",
         EDecryptError::OutputRefused, &messages::OutputIsForeignLink, nullptr},
        {"own link", EOwner::Caller, "../own/target.txt", EDecryptError::None, nullptr, "own/target.txt"},
        {"folder owner's link", EOwner::FolderOwner, "../own/target.txt", EDecryptError::None, nullptr,
         "own/target.txt"},
        {"own dangling link", EOwner::Caller, "../own/missing.txt", EDecryptError::OutputRefused,
         &messages::OutputIsDanglingLink, nullptr},
        {"own link to a foreign file in a shared folder", EOwner::Caller, "../other-shared/theirs.txt",
         EDecryptError::OutputRefused, &messages::OutputIsForeignFile, nullptr},
        {"foreign file", EOwner::Other, nullptr, EDecryptError::OutputRefused, &messages::OutputIsForeignFile,
         nullptr},
        {"own file", EOwner::Caller, nullptr, EDecryptError::None, nullptr, "shared/e_in.enc"},
    };
    for (const std::optional<SUser> caller : {std::optional<SUser>(), m_user}) {
        const uid_t callerUid = caller ? caller->uid : 0;
        const gid_t callerGid = caller ? caller->gid : 0;
        int nCase = 0;
        for (const SOutputCase& c : cases) {
            SCOPED_TRACE(std::string(c.pszName) + (caller ? " (unprivileged)" : " (root)"));
            const std::string strBase = Path("case" + std::to_string(nCase++) + (caller ? "u" : "r"));
            MakeFolder(strBase, 0755, 0);
            MakeFolder(strBase + "/shared", 01777, kFolderOwner);
            MakeFolder(strBase + "/other-shared", 01777, kFolderOwner);
            MakeFolder(strBase + "/own", 0755, callerUid);
            MakeFolder(strBase + "/open", 0777, 0);
            MakeFile(strBase + "/shared/in.enc", m_strCipher, 0644, std::pair{callerUid, callerGid});
            MakeFile(strBase + "/own/target.txt", "alt", 0644, std::pair{callerUid, callerGid});
            MakeFile(strBase + "/open/victim.txt", "alt", 0666, std::pair{kOther, kOther});
            MakeFile(strBase + "/other-shared/theirs.txt", "alt", 0666, std::pair{kOther, kOther});
            const std::string strOutput = strBase + "/shared/e_in.enc";
            const uid_t owner = c.owner == EOwner::Caller        ? callerUid
                                : c.owner == EOwner::FolderOwner ? kFolderOwner
                                                                 : kOther;
            if (c.pszLinkTarget != nullptr) {
                ASSERT_EQ(::symlink(c.pszLinkTarget, strOutput.c_str()), 0);
                Own(strOutput, owner, owner);
            } else {
                MakeFile(strOutput, "alt", 0666, std::pair{owner, owner});
            }
            std::map<std::string, std::string> expected = Snapshot(strBase);
            if (c.pszReplaced != nullptr)
                expected[c.pszReplaced] = Summary(m_strPlain);

            const SChildResult result = RunChild({strBase + "/shared/in.enc", "pw", "e_", "1"}, caller);
            EXPECT_EQ(ErrorOf(result), static_cast<int>(c.error)) << result.strOutcome;
            EXPECT_EQ(result.messages, c.pMessage != nullptr
                                           ? std::vector{c.pMessage(strBase + "/shared/in.enc", strOutput)}
                                           : std::vector<std::string>{});
            EXPECT_EQ(Snapshot(strBase), expected);
        }
    }
}

struct SOwnerCase
{
    mode_t folderMode;
    uid_t uid; // of the replaced file
    gid_t gid;
    mode_t mode;
    uid_t expectedUid;
    gid_t expectedGid;
    mode_t expectedMode; // for an input of 0644
};

// A replaced output belongs to the caller and the caller's group, whoever owned it, the folder's owner
// included: neither that owner nor the file's group gets the plaintext, nor does a mode of 0666. Only the
// caller's own file passes its permissions on (narrowed); another user's counts as no file.
TEST_F(SharedFolderTest, DecryptFile_GivesNoPlaintextAwayThroughOwnerOrMode)
{
    const mode_t previous = ::umask(022);
    for (const SOwnerCase& c : {SOwnerCase{0755, kOther, kOther, 0666, 0, 0, 0644},
                                SOwnerCase{0755, kFolderOwner, kFolderOwner, 0600, 0, 0, 0644},
                                SOwnerCase{0755, 0, kOther, 0660, 0, 0, 0640},
                                SOwnerCase{01777, kFolderOwner, kOther, 0666, 0, 0, 0644}}) {
        SCOPED_TRACE(std::to_string(c.uid) + " in " + std::to_string(c.folderMode));
        const CTempDir dir;
        MakeFolder(dir / "f", c.folderMode, kFolderOwner);
        MakeFile(dir / "f/in.enc", m_strCipher, 0644);
        MakeFile(dir / "f/e_in.enc", "alt", c.mode, std::pair{c.uid, c.gid});
        CRecordingMessageSink messages;
        testing::internal::CaptureStdout();
        EXPECT_EQ(CFileDecryptor("e_", "", "").DecryptFile(dir / "f/in.enc", "pw", messages), 0);
        testing::internal::GetCapturedStdout();
        struct stat info
        {
        };
        ASSERT_EQ(::stat((dir / "f/e_in.enc").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.expectedUid);
        EXPECT_EQ(info.st_gid, c.expectedGid);
        EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
        EXPECT_EQ(ReadFileBytes(dir / "f/e_in.enc"), m_strPlain);
    }
    ::umask(previous);
}

struct SModeCase
{
    mode_t inputMode;
    int existingMode; // -1: no output yet
    mode_t umask;
    mode_t expectedMode;
};

// The output is never readable by more users than the input; it stays writable by its owner, so that a
// read-only input does not give an output that cannot be replaced next time. Special bits never carry over.
TEST(OutputFileTest, DecryptFile_OutputIsNoMoreReadableThanInput)
{
    const std::string strCipher = OpenSslEncrypt(kKey, RandomBytes(40, 21));
    for (const SModeCase& c :
         {SModeCase{0600, -1, 022, 0600}, SModeCase{0644, -1, 022, 0644}, SModeCase{0666, -1, 002, 0664},
          SModeCase{0640, -1, 0, 0640}, SModeCase{0444, -1, 022, 0644}, SModeCase{0600, 0666, 022, 0600},
          SModeCase{0644, 0640, 0, 0640}, SModeCase{0755, 06775, 0, 0755}}) {
        SCOPED_TRACE(std::to_string(c.inputMode) + " over " + std::to_string(c.existingMode));
        const CTempDir dir;
        MakeFile(dir / "in.enc", strCipher, c.inputMode);
        if (c.existingMode >= 0)
            MakeFile(dir / "e_in.enc", "alt", static_cast<mode_t>(c.existingMode));
        CRecordingMessageSink messages;
        const mode_t previous = ::umask(c.umask);
        testing::internal::CaptureStdout();
        EXPECT_EQ(CFileDecryptor("e_", "", "").DecryptFile(dir / "in.enc", "pw", messages), 0);
        testing::internal::GetCapturedStdout();
        ::umask(previous);
        struct stat info
        {
        };
        ASSERT_EQ(::stat((dir / "e_in.enc").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
    }
}

struct SAclCase
{
    const char* pszSetup; // setfacl arguments for the old output (on "o") or its folder ("d")
    mode_t inputMode;
    const char* pszExpected; // getfacl of the new output
};

// A replaced output's ACL and other attributes are carried over, its mask narrowed like the group bits; a
// new output takes its folder's default ACL, narrowed alike.
TEST(OutputFileTest, DecryptFile_CarriesAclOverNarrowed)
{
    const std::string strPlain = RandomBytes(40, 21);
    if (test::RunShell("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl/getfacl missing (package acl, see scripts/install-deps)";
    for (const SAclCase& c : {SAclCase{"-m u:12345:rw,g::rw o", 0640,
                                       "user::rw-\nuser:12345:rw-\ngroup::rw-\nmask::r--\nother::---\n"},
                              SAclCase{"-m u:12345:rw,g::rw o", 0600,
                                       "user::rw-\nuser:12345:rw-\ngroup::rw-\nmask::---\nother::---\n"},
                              SAclCase{"-d -m u:12345:rw d", 0600,
                                       "user::rw-\nuser:12345:rw-\ngroup::r-x\nmask::---\nother::---\n"},
                              SAclCase{"-d -m u:12345:rw d", 0644,
                                       "user::rw-\nuser:12345:rw-\ngroup::r-x\nmask::r--\nother::r--\n"}}) {
        SCOPED_TRACE(c.pszSetup);
        const CTempDir dir;
        ASSERT_TRUE(fs::create_directory(dir / "d"));
        ASSERT_EQ(::chmod((dir / "d").c_str(), 0755), 0);
        MakeFile(dir / "d/in.enc", OpenSslEncrypt(kKey, strPlain), c.inputMode);
        const std::string strSetup(c.pszSetup);
        if (strSetup.ends_with(" o")) {
            MakeFile(dir / "d/e_in.enc", "alt", 0660);
            ASSERT_EQ(::setxattr((dir / "d/e_in.enc").c_str(), "user.herkunft", "abc", 3, 0), 0);
        }
        const std::string strTarget = strSetup.ends_with(" o") ? dir / "d/e_in.enc" : dir / "d";
        ASSERT_EQ(
            test::RunShell("setfacl " + strSetup.substr(0, strSetup.size() - 2) + " '" + strTarget + "'"), 0);
        CRecordingMessageSink messages;
        testing::internal::CaptureStdout();
        EXPECT_EQ(CFileDecryptor("e_", "", "").DecryptFile(dir / "d/in.enc", "pw", messages), 0);
        testing::internal::GetCapturedStdout();
        const std::string strAcl = dir / "acl.txt";
        ASSERT_EQ(test::RunShell("getfacl -n --absolute-names --omit-header --no-effective '" +
                                 (dir / "d/e_in.enc") + "' > '" + strAcl + "'"),
                  0);
        EXPECT_EQ(ReadFileBytes(strAcl), std::string(c.pszExpected) + "\n");
        if (strSetup.ends_with(" o")) {
            std::array<char, 8> value{};
            EXPECT_EQ(::getxattr((dir / "d/e_in.enc").c_str(), "user.herkunft", value.data(), value.size()),
                      3);
            EXPECT_EQ(std::string(value.data()), "abc");
        }
        EXPECT_EQ(ReadFileBytes(dir / "d/e_in.enc"), strPlain);
    }
}

// An attribute the caller may not set on the new file fails the file; the old output stays as it was.
TEST_F(SharedFolderTest, DecryptFile_FailsWhereAttributesCannotBeCarriedOver)
{
    MakeFolder(Path("d"), 0755, m_user->uid);
    MakeFile(Path("d/in.enc"), m_strCipher, 0644, std::pair{m_user->uid, m_user->gid});
    MakeFile(Path("d/e_in.enc"), "alt", 0644, std::pair{m_user->uid, m_user->gid});
    // Only a privileged process may set attributes in the security namespace; everyone may read them.
    ASSERT_EQ(::setxattr(Path("d/e_in.enc").c_str(), "security.brasko", "x", 1, 0), 0);
    const auto before = Snapshot(m_dir.Path());
    const SChildResult result = RunChild({Path("d/in.enc"), "pw", "e_", "1"}, m_user);
    EXPECT_EQ(ErrorOf(result), static_cast<int>(EDecryptError::CreateOutput)) << result.strOutcome;
    EXPECT_EQ(Snapshot(m_dir.Path()), before);
}

// SIGKILL in the middle of writing leaves nothing: the file being written has no name.
TEST(OutputFileTest, DecryptFile_KilledMidwayLeavesNothingBehind)
{
    const CTempDir dir;
    WriteFileBytes(dir / "in.enc", RandomBytes(16 * kChunkSize, 3));
    WriteFileBytes(dir / "e_in.enc", "alt");
    const auto before = Snapshot(dir.Path());
    for (const char* pszJobs : {"1", "2"}) {
        SCOPED_TRACE(pszJobs);
        const SChild child =
            StartChild({"--stop-at-progress", dir / "in.enc", "pw", "e_", pszJobs}, std::nullopt);
        ASSERT_GT(child.pid, 0);
        std::string strLine = ReadLine(child.fdOutput);
        while (!strLine.empty() && strLine != "progress")
            strLine = ReadLine(child.fdOutput);
        EXPECT_EQ(strLine, "progress");
        EXPECT_EQ(Snapshot(dir.Path()), before);
        ::kill(child.pid, SIGKILL);
        int nStatus = 0;
        ::waitpid(child.pid, &nStatus, 0);
        ::close(child.fdOutput);
        EXPECT_TRUE(WIFSIGNALED(nStatus));
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
}

// Does something to the input once, when its first bytes are written.
class CInputChanger : public IProgressSink
{
public:
    explicit CInputChanger(std::function<void()> change) : m_change(std::move(change)) {}
    void OnBytesDone(std::uint64_t, std::uint64_t) override
    {
        if (m_change)
            std::exchange(m_change, nullptr)();
    }

private:
    std::function<void()> m_change;
};

// An input cut short while it is read fails with its own message and keeps the older output; one that grows
// is read to its end. More chunks than the parallel path keeps in flight, so the change is always seen.
TEST(OutputFileTest, DecryptFile_ShrinkingInputFailsGrowingInputIsReadToItsEnd)
{
    const std::string strPlain = RandomBytes(16 * kChunkSize, 5);
    const std::string strMore = RandomBytes(8000, 6);
    const std::string strCipher = OpenSslEncrypt(kKey, strPlain);
    const std::string strCipherMore = OpenSslEncrypt(kKey, strMore);
    const CFileDecryptor decryptor("e_", "", "");
    for (const unsigned nJobs : {1U, 2U}) {
        SCOPED_TRACE(nJobs);
        const CTempDir dir;
        const std::string strInput = dir / "in.enc";
        WriteFileBytes(strInput, strCipher);
        WriteFileBytes(dir / "e_in.enc", "alt");
        CRecordingMessageSink messages;
        CInputChanger shrink([&] { ASSERT_EQ(::truncate(strInput.c_str(), kChunkSize + 3), 0); });
        testing::internal::CaptureStdout();
        const SDecryptOutcome outcome =
            decryptor.Decrypt({.strInputPath = strInput,
                               .strOutputPath = decryptor.BuildOutputPath(strInput),
                               .cipher = PrepareCipher("pw"),
                               .messages = messages,
                               .pProgress = &shrink,
                               .nJobs = nJobs});
        EXPECT_EQ(outcome.error, EDecryptError::InputShrank);
        EXPECT_EQ(
            messages.m_messages,
            (std::vector{std::pair{messages::InputShrank(strInput, dir / "e_in.enc"), EMessageIcon::Stop}}));
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"e_in.enc", "in.enc"}));
        EXPECT_EQ(ReadFileBytes(dir / "e_in.enc"), "alt");

        WriteFileBytes(strInput, strCipher);
        CInputChanger grow(
            [&] { std::ofstream(strInput, std::ios::binary | std::ios::app) << strCipherMore; });
        EXPECT_EQ(decryptor.DecryptFile(strInput, "pw", messages, &grow, nJobs), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ReadFileBytes(dir / "e_in.enc") == strPlain + strMore);
    }
}

} // namespace
} // namespace brasko
