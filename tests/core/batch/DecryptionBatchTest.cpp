#include "DecryptionBatch.h"

#include "DecryptStream.h"
#include "Messages.h"
#include "SecureBuffer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CTempDir;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;
using Log = std::vector<std::string>;

const std::string kKey = "pw                      ";

std::string Icon(EMessageIcon icon)
{
    return icon == EMessageIcon::Stop ? "stop: " : "note: ";
}

// Everything the front end hears, in one log: messages, the observer's calls and the files started. It
// checks that no two calls overlap, as the batch promises.
class CRecordingFrontEnd : public IMessageSink, public IProgressSink, public IBatchObserver
{
public:
    void ShowMessage(const std::string& strText, EMessageIcon icon) override { Add(Icon(icon) + strText); }
    void OnInputOpened(std::size_t nIndex, const std::string& /*strPath*/) override
    {
        Add("opened " + std::to_string(nIndex));
    }
    void OnFileFinished(std::size_t nIndex, const std::string& /*strPath*/,
                        const SDecryptOutcome& outcome) override
    {
        Add("finished " + std::to_string(nIndex) + " error " +
            std::to_string(static_cast<int>(outcome.error)) + (outcome.bSkipped ? " skipped" : ""));
    }
    void OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& /*strPath*/) override
    {
        Add("started " + std::to_string(nIndex) + "/" + std::to_string(nCount));
        m_nStarted = nIndex;
    }
    // Holds up the thread that decrypts the first file, once, for m_firstFileDelay.
    void OnBytesDone(std::uint64_t /*nDone*/, std::uint64_t /*nTotal*/) override
    {
        if (m_nStarted == 0 && !m_bDelayed.exchange(true))
            std::this_thread::sleep_for(m_firstFileDelay);
    }
    bool IsCancelRequested() override
    {
        Enter();
        const bool bCancel = m_nStarted >= m_nCancelAt;
        m_bBusy = false;
        return bCancel;
    }

    // The log without the progress entries, which depend on timing where files run in parallel.
    Log Reports() const { return WithoutProgress(m_log); }
    static Log WithoutProgress(const Log& log)
    {
        Log reports;
        for (const std::string& strEntry : log) {
            if (!strEntry.starts_with("started "))
                reports.push_back(strEntry);
        }
        return reports;
    }

    Log m_log;
    std::size_t m_nCancelAt = static_cast<std::size_t>(-1); // cancel once this file is named as started
    std::size_t m_nStarted = 0;
    std::chrono::milliseconds m_firstFileDelay{0};

private:
    std::atomic<bool> m_bDelayed{false};
    void Enter() { EXPECT_FALSE(m_bBusy.exchange(true)) << "two calls at once"; }
    void Add(const std::string& strEntry)
    {
        Enter();
        m_log.push_back(strEntry);
        m_bBusy = false;
    }
    std::atomic<bool> m_bBusy{false};
};

std::string Finished(std::size_t nIndex, EDecryptError error = EDecryptError::None)
{
    return "finished " + std::to_string(nIndex) + " error " + std::to_string(static_cast<int>(error));
}

class BatchTest : public ::testing::Test
{
protected:
    // An encrypted file of nSize bytes whose plaintext is remembered in m_plain.
    std::string MakeInput(const std::string& strName, std::size_t nSize = 48)
    {
        m_plain[strName] = RandomBytes(nSize, static_cast<unsigned>(m_plain.size() + 1));
        fs::create_directories(fs::path(m_dir / strName).parent_path());
        WriteFileBytes(m_dir / strName, OpenSslEncrypt(kKey, m_plain[strName]));
        return m_dir / strName;
    }

    SBatchRequest Request(std::vector<std::string> paths, unsigned nJobs = 1)
    {
        SBatchRequest request;
        request.pPassword = &m_password;
        request.strPrefix = "e_";
        request.paths = std::move(paths);
        request.nJobs = nJobs;
        return request;
    }

    SBatchResult Run(const SBatchRequest& request)
    {
        m_frontEnd.m_log.clear();
        return RunDecryptionBatch(request, m_frontEnd, &m_frontEnd, &m_frontEnd);
    }

    // Names of every file below the folder, with their sizes, sorted.
    std::vector<std::string> Tree() const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.Path())) {
            const std::string strName = fs::relative(entry.path(), m_dir.Path()).string();
            files.push_back(entry.is_regular_file() ? strName + " " + std::to_string(entry.file_size())
                                                    : strName + "/");
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    CTempDir m_dir;
    CRecordingFrontEnd m_frontEnd;
    CSecureBuffer m_password = [] {
        CSecureBuffer password(2);
        password.Append("pw", 2);
        return password;
    }();
    std::map<std::string, std::string> m_plain;
};

TEST_F(BatchTest, RunDecryptionBatch_EmptyTemplateOnlyWarns)
{
    const std::string strInput = MakeInput("a.bin");
    for (const auto& paths : {std::vector<std::string>{}, std::vector<std::string>{strInput, m_dir / "x"}}) {
        SBatchRequest request = Request(paths, 0);
        request.strPrefix.clear();
        EXPECT_TRUE(Run(request).bTemplateEmpty);
        EXPECT_EQ(m_frontEnd.m_log, Log{"stop: " + std::string(messages::kTemplateEmpty)});
    }
    EXPECT_EQ(m_dir.List(), std::vector<std::string>{"a.bin"});
}

TEST_F(BatchTest, RunDecryptionBatch_EmptyListSucceeds)
{
    SBatchRequest request = Request({});
    request.strPrefix = " "; // a blank counts as a template
    EXPECT_EQ(Run(request).nFailures, 0);
    EXPECT_EQ(m_frontEnd.m_log, Log{"note: " + std::string(messages::kBatchSucceeded)});
}

// The trace comes through the observer when the input is open, the missing file's message in its place.
TEST_F(BatchTest, RunDecryptionBatch_MissingMiddleFileFailsAlone)
{
    const std::string strFirst = MakeInput("a.bin");
    const std::string strMissing = m_dir / "../" + m_dir.Path().filename().string() + "/b.bin";
    const std::string strLast = MakeInput("c.bin");
    SBatchRequest request = Request({strFirst, strMissing, strLast});
    request.strPrefix.clear();
    request.strSuffix = "_klar";
    request.strExtension = ".txt";
    EXPECT_EQ(Run(request).nFailures, 1);
    EXPECT_EQ(m_frontEnd.m_log,
              (Log{"started 0/3", "opened 0", Finished(0), "started 1/3",
                   "note: " + messages::FileNotFound(strMissing), Finished(1, EDecryptError::InputMissing),
                   "started 2/3", "opened 2", Finished(2), "stop: " + std::string(messages::kBatchFailed)}));
    EXPECT_EQ(ReadFileBytes(m_dir / "a_klar.bin.txt"), m_plain["a.bin"]);
    EXPECT_EQ(ReadFileBytes(m_dir / "c_klar.bin.txt"), m_plain["c.bin"]);
}

TEST_F(BatchTest, RunDecryptionBatch_CancelEndsBatchAtOnce)
{
    const std::string strA = MakeInput("a.bin");
    const std::string strB = MakeInput("b.bin");
    const std::string strC = MakeInput("c.bin");
    m_frontEnd.m_nCancelAt = 1;
    EXPECT_TRUE(Run(Request({strA, strB, strC})).bCancelled);
    EXPECT_EQ(m_frontEnd.m_log, (Log{"started 0/3", "opened 0", Finished(0), "started 1/3",
                                     "note: " + std::string(messages::kBatchCancelled)}));
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "e_a.bin"}));
}

TEST_F(BatchTest, RunDecryptionBatch_SecondRunReplacesOutputs)
{
    const std::string strInput = MakeInput("a.bin");
    EXPECT_EQ(Run(Request({strInput})).nFailures, 0);
    WriteFileBytes(m_dir / "e_a.bin", "verändert");
    EXPECT_EQ(Run(Request({strInput})).nFailures, 0);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_a.bin"), m_plain["a.bin"]);
}

// a.bin's output would be e_a.bin, which is itself an input of the batch: it keeps its encrypted bytes.
TEST_F(BatchTest, RunDecryptionBatch_NeverWritesOverAnotherInput)
{
    const std::string strA = MakeInput("a.bin");
    const std::string strEA = MakeInput("e_a.bin");
    const std::string strEncryptedEA = ReadFileBytes(strEA);
    fs::create_symlink(m_dir / "e_a.bin", m_dir / "link.bin");
    MakeInput("x.bin");
    fs::create_symlink(m_dir / "x.bin", m_dir / "e_y.bin");
    const std::string strY = MakeInput("y.bin");

    // The link's output e_link.bin is no input; y.bin's output is x.bin reached through a link.
    const SBatchResult result = Run(Request({strA, strEA, strY, m_dir / "x.bin"}));
    EXPECT_EQ(result.nFailures, 2);
    EXPECT_EQ(ReadFileBytes(strEA), strEncryptedEA);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_e_a.bin"), m_plain["e_a.bin"]);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_x.bin"), m_plain["x.bin"]);
    const std::string strStop = "stop: ";
    EXPECT_EQ(m_frontEnd.Reports(), (Log{strStop + messages::OutputWouldReplaceInput(strA, m_dir / "e_a.bin"),
                                         Finished(0, EDecryptError::ReplacesInput), "opened 1", Finished(1),
                                         strStop + messages::OutputWouldReplaceInput(strY, m_dir / "e_y.bin"),
                                         Finished(2, EDecryptError::ReplacesInput), "opened 3", Finished(3),
                                         strStop + messages::kBatchFailed}));
}

// Two entries that would write one output are both refused, whatever their place; the others go on.
TEST_F(BatchTest, RunDecryptionBatch_RefusesBothEntriesOfOneOutput)
{
    const std::string strA = MakeInput("a.bin");
    const std::string strB = MakeInput("b.bin");
    const std::string strXA = MakeInput("x/a.bin");
    fs::create_directory(m_dir / "out");
    fs::create_directory(m_dir / "real");
    fs::create_symlink(m_dir / "real", m_dir / "alias");
    struct SCase
    {
        const char* pszWhat;
        std::vector<std::string> paths;
        std::string strOutputDir;
        std::vector<std::string> subFolders;
        std::string strSharedOutput;
    };
    const std::vector<SCase> cases = {
        {"one file twice", {strA, strB, m_dir / "x/../a.bin"}, "", {}, m_dir / "e_a.bin"},
        {"one name from two folders", {strA, strB, strXA}, m_dir / "out", {}, m_dir / "out/e_a.bin"},
        {"two paths to one existing output",
         {strA, strB, strXA},
         m_dir / "out",
         {"real/", "", "alias/"},
         m_dir / "out/real/e_a.bin"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        if (c.subFolders.size() > 1) {
            // The link makes out/alias and out/real one folder, where e_a.bin exists already.
            fs::create_directories(m_dir / "out/real");
            fs::create_symlink(m_dir / "out/real", m_dir / "out/alias");
            WriteFileBytes(m_dir / "out/real/e_a.bin", "alt");
        }
        SBatchRequest request = Request(c.paths);
        request.strOutputDir = c.strOutputDir;
        request.subFolders = c.subFolders;
        for (const unsigned nJobs : {1U, 2U}) {
            request.nJobs = nJobs;
            EXPECT_EQ(Run(request).nFailures, 2);
            const std::string strSecondOutput =
                c.subFolders.empty() ? c.strSharedOutput : m_dir / "out/alias/e_a.bin";
            EXPECT_EQ(m_frontEnd.Reports(),
                      (Log{"stop: " + messages::OutputWouldBeWrittenTwice(c.paths[0], c.strSharedOutput),
                           Finished(0, EDecryptError::DuplicateOutput), "opened 1", Finished(1),
                           "stop: " + messages::OutputWouldBeWrittenTwice(c.paths[2], strSecondOutput),
                           Finished(2, EDecryptError::DuplicateOutput),
                           "stop: " + std::string(messages::kBatchFailed)}));
        }
        if (c.subFolders.size() > 1) {
            EXPECT_EQ(ReadFileBytes(m_dir / "out/real/e_a.bin"), "alt");
        }
    }
}

// Outputs below the output folder: a file given directly in it, one found below a folder argument at its
// place there, missing folders made with the umask's permissions. The input folder may be read-only.
TEST_F(BatchTest, RunDecryptionBatch_OutputFolderKeepsLayout)
{
    const std::string strTop = MakeInput("daten/a.bin");
    const std::string strDeep = MakeInput("daten/2019/q1/b.bin");
    fs::create_directory(m_dir / "klar");
    ::chmod((m_dir / "daten/2019").c_str(), 0555);
    const mode_t nOldMask = ::umask(027);
    SBatchRequest request = Request({strTop, strDeep});
    request.strOutputDir = m_dir / "klar";
    request.subFolders = {"", "2019/q1/"};
    const SBatchResult result = Run(request);
    ::umask(nOldMask);
    EXPECT_EQ(result.nFailures, 0);
    EXPECT_EQ(ReadFileBytes(m_dir / "klar/e_a.bin"), m_plain["daten/a.bin"]);
    EXPECT_EQ(ReadFileBytes(m_dir / "klar/2019/q1/e_b.bin"), m_plain["daten/2019/q1/b.bin"]);
    struct stat info
    {
    };
    ASSERT_EQ(::stat((m_dir / "klar/2019").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750U);
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"daten/", "daten/2019/", "daten/2019/q1/", "daten/2019/q1/b.bin 48",
                                        "daten/a.bin 48", "klar/", "klar/2019/", "klar/2019/q1/",
                                        "klar/2019/q1/e_b.bin 48", "klar/e_a.bin 48"}));
}

// An output of the caller's as long as its input is left alone and counts as done: no trace line, no message,
// a successful summary. A shorter one, as a power cut can leave, is decrypted again.
TEST_F(BatchTest, RunDecryptionBatch_SkipsFinishedOutputs)
{
    const std::string strA = MakeInput("a.bin");
    const std::string strB = MakeInput("b.bin");
    const std::string strFinished(fs::file_size(strA), 'f');
    WriteFileBytes(m_dir / "e_a.bin", strFinished);
    WriteFileBytes(m_dir / "e_b.bin", "fertig");
    SBatchRequest request = Request({strA, strB});
    request.bSkipExisting = true;
    const SBatchResult result = Run(request);
    EXPECT_EQ(result.nFailures, 0);
    EXPECT_EQ(result.nSkipped, 1U);
    EXPECT_EQ(m_frontEnd.Reports(), (Log{Finished(0) + " skipped", "opened 1", Finished(1),
                                         "note: " + std::string(messages::kBatchSucceeded)}));
    EXPECT_EQ(ReadFileBytes(m_dir / "e_a.bin"), strFinished);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_b.bin"), m_plain["b.bin"]);
}

// The locked memory of this process, in KiB (VmLck in /proc/self/status).
unsigned long LockedKib()
{
    std::ifstream status("/proc/self/status");
    for (std::string strLine; std::getline(status, strLine);) {
        if (strLine.starts_with("VmLck:"))
            return std::stoul(strLine.substr(6));
    }
    return 0;
}

// Notes the locked memory whenever a file starts, from whichever thread that is.
class CLockWatch : public IMessageSink, public IProgressSink
{
public:
    void ShowMessage(const std::string& /*strText*/, EMessageIcon /*icon*/) override {}
    void OnFileStarted(std::size_t /*nIndex*/, std::size_t /*nCount*/,
                       const std::string& /*strPath*/) override
    {
        m_nLeastLockedKib = std::min(m_nLeastLockedKib, LockedKib());
    }
    unsigned long m_nLeastLockedKib = static_cast<unsigned long>(-1);
};

// Two batches under different passwords at once in one process, each on several threads: every output is
// its own password's plaintext. The key pages of a batch stay locked while it runs and are given back when
// it ends.
TEST_F(BatchTest, RunDecryptionBatch_KeysOfConcurrentBatchesStayApart)
{
    const std::string kOtherKey = "anderes                 ";
    std::vector<std::string> ours;
    std::vector<std::string> theirs;
    std::map<std::string, std::string> theirPlain;
    for (int i = 0; i < 24; ++i) {
        ours.push_back(MakeInput("a" + std::to_string(i) + ".bin", 8 + 520 * static_cast<std::size_t>(i)));
        const std::string strName = "b" + std::to_string(i) + ".bin";
        theirPlain[strName] = RandomBytes(16 + 264 * static_cast<std::size_t>(i), 1000 + i);
        WriteFileBytes(m_dir / strName, OpenSslEncrypt(kOtherKey, theirPlain[strName]));
        theirs.push_back(m_dir / strName);
    }
    CSecureBuffer theirPassword(7); // locked itself, so made before the count
    theirPassword.Append("anderes", 7);
    const unsigned long nLockedBefore = LockedKib();
    SBatchRequest ourRequest = Request(ours, 2);
    SBatchRequest theirRequest = Request(theirs, 2);
    theirRequest.pPassword = &theirPassword;
    CLockWatch ourWatch;
    CLockWatch theirWatch;
    SBatchResult theirResult;
    std::thread other(
        [&] { theirResult = RunDecryptionBatch(theirRequest, theirWatch, &theirWatch, nullptr); });
    const SBatchResult ourResult = RunDecryptionBatch(ourRequest, ourWatch, &ourWatch, nullptr);
    other.join();

    EXPECT_EQ(ourResult.nFailures, 0);
    EXPECT_EQ(theirResult.nFailures, 0);
    for (int i = 0; i < 24; ++i) {
        const std::string strA = "a" + std::to_string(i) + ".bin";
        const std::string strB = "b" + std::to_string(i) + ".bin";
        EXPECT_TRUE(ReadFileBytes(m_dir / ("e_" + strA)) == m_plain[strA]) << strA;
        EXPECT_TRUE(ReadFileBytes(m_dir / ("e_" + strB)) == theirPlain[strB]) << strB;
    }
    // Where the system lets this process lock memory at all (and no sanitizer turns mlock into nothing), the
    // key pages were locked throughout.
    if (CSecureBuffer probe(1); probe.IsLocked() && LockedKib() > nLockedBefore) {
        EXPECT_GT(ourWatch.m_nLeastLockedKib, nLockedBefore);
        EXPECT_GT(theirWatch.m_nLeastLockedKib, nLockedBefore);
    }
    EXPECT_EQ(LockedKib(), nLockedBefore);
}

// Several files at once say and write exactly what one thread does: the same log in the same order, the
// same outputs, the same failures, for a mix of small and large files, missing ones and refused ones.
TEST_F(BatchTest, RunDecryptionBatch_ParallelMatchesOneThread)
{
    if (EffectiveJobs(0) < 2)
        GTEST_SKIP() << "one hardware thread: the batch runs on the calling thread";
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
        const std::string strName = std::string("f").append(std::to_string(100 + i)).append(".bin");
        switch (i % 8) {
        case 3:
            paths.push_back(m_dir / strName); // missing
            break;
        case 5:
            paths.push_back(MakeInput(strName, kChunkSize * 2 + 16));
            break;
        case 6:
            fs::create_directory(m_dir / strName);
            paths.push_back(m_dir / strName);
            break;
        default:
            paths.push_back(MakeInput(strName, std::size_t{8} * static_cast<std::size_t>(i)));
        }
    }
    paths.push_back(MakeInput("e_f101.bin")); // the output of f101.bin: both refused as a clobber
    paths.push_back(paths[0]);                // f100.bin twice: both refused as duplicates

    const std::vector<std::string> inputs = Tree();
    SBatchRequest request = Request(paths, 1);
    const SBatchResult single = Run(request);
    const Log singleLog = m_frontEnd.m_log;
    const std::vector<std::string> singleTree = Tree();
    EXPECT_EQ(single.nFailures, 5 + 5 + 1 + 2);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_f105.bin"), m_plain["f105.bin"]);

    for (const unsigned nJobs : {0U, 2U}) {
        SCOPED_TRACE(nJobs);
        for (const std::string& strOutput : singleTree) {
            if (strOutput.starts_with("e_") && strOutput != "e_f101.bin 48")
                fs::remove(m_dir / strOutput.substr(0, strOutput.find(' ')));
        }
        ASSERT_EQ(Tree(), inputs);
        request.nJobs = nJobs;
        const SBatchResult parallel = Run(request);
        EXPECT_EQ(parallel.nFailures, single.nFailures);
        EXPECT_EQ(m_frontEnd.Reports(), CRecordingFrontEnd::WithoutProgress(singleLog));
        EXPECT_EQ(Tree(), singleTree);
        for (const auto& [strName, strPlain] : m_plain) {
            if (fs::exists(m_dir / ("e_" + strName)) && strName != "f101.bin") {
                EXPECT_TRUE(ReadFileBytes(m_dir / ("e_" + strName)) == strPlain) << strName;
            }
        }
    }
}

// Cancelling a parallel batch ends it as on one thread: the files reported before have their outputs, the
// files in flight are abandoned and leave nothing behind, and the batch says it was stopped.
TEST_F(BatchTest, RunDecryptionBatch_ParallelCancelLeavesOnlyCompleteOutputs)
{
    if (EffectiveJobs(0) < 2)
        GTEST_SKIP() << "one hardware thread: the batch runs on the calling thread";
    std::vector<std::string> paths;
    paths.reserve(12);
    for (int i = 0; i < 12; ++i)
        paths.push_back(MakeInput("g" + std::to_string(10 + i) + ".bin", kChunkSize * 3 + 8));
    m_frontEnd.m_nCancelAt = 2;
    const SBatchResult result = Run(Request(paths, 0));
    EXPECT_TRUE(result.bCancelled);
    EXPECT_EQ(m_frontEnd.m_log.back(), "note: " + std::string(messages::kBatchCancelled));
    const Log reports = m_frontEnd.Reports();
    EXPECT_EQ(reports, (Log{"opened 0", Finished(0), "opened 1", Finished(1),
                            "note: " + std::string(messages::kBatchCancelled)}));
    std::size_t nOutputs = 0;
    for (const std::string& strName : m_dir.List()) {
        EXPECT_FALSE(strName.starts_with(".")) << strName;
        if (strName.starts_with("e_")) {
            ++nOutputs;
            EXPECT_TRUE(ReadFileBytes(m_dir / strName) == m_plain[strName.substr(2)]) << strName;
        }
    }
    EXPECT_EQ(nOutputs, 2U);
}

// More files than may be in flight, the first of them held up, with few descriptors allowed: the other
// thread waits for the window rather than run out of descriptors with finished files, and every file is
// reported in the batch's order. The longer the delay, the surer the window fills on a slow machine.
TEST_F(BatchTest, RunDecryptionBatch_ParallelWindowKeepsToTheDescriptorLimit)
{
    if (EffectiveJobs(0) < 2)
        GTEST_SKIP() << "one hardware thread: the batch runs on the calling thread";
    m_frontEnd.m_firstFileDelay = std::chrono::milliseconds(500);
    std::vector<std::string> paths = {MakeInput("gross.bin", kChunkSize * 2)};
    const std::string strCipher = ReadFileBytes(MakeInput("klein.bin", 64));
    for (int i = 0; i < 300; ++i) {
        const std::string strName = std::string("k").append(std::to_string(i)).append(".bin");
        WriteFileBytes(m_dir / strName, strCipher);
        m_plain[strName] = m_plain["klein.bin"];
        paths.push_back(m_dir / strName);
    }
    struct rlimit saved
    {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 96);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const SBatchResult result = Run(Request(paths, 2));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(result.nFailures, 0);
    Log expected;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        expected.push_back("opened " + std::to_string(i));
        expected.push_back(Finished(i));
    }
    expected.push_back("note: " + std::string(messages::kBatchSucceeded));
    EXPECT_EQ(m_frontEnd.Reports(), expected);
    EXPECT_TRUE(ReadFileBytes(m_dir / "e_gross.bin") == m_plain["gross.bin"]);
    EXPECT_TRUE(ReadFileBytes(m_dir / "e_k299.bin") == m_plain["k299.bin"]);
}

} // namespace
} // namespace brasko
