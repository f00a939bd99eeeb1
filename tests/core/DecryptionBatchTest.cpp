#include "core/DecryptionBatch.h"

#include "core/Messages.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CRecordingMessageSink;
using test::CTempDir;
using test::OpenSslEncrypt;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;
using Messages = std::vector<std::pair<std::string, EMessageIcon>>;

const std::string kKey = "pw                      ";

class BatchTest : public ::testing::Test
{
protected:
    // An encrypted file whose plaintext is remembered in m_plain.
    std::string MakeInput(const std::string& strName)
    {
        m_plain[strName] = RandomBytes(48, static_cast<unsigned>(m_plain.size() + 1));
        WriteFileBytes(m_dir / strName, OpenSslEncrypt(kKey, m_plain[strName]));
        return m_dir / strName;
    }

    SBatchResult Run(const std::vector<std::string>& paths, const std::string& strPrefix = "e_",
                     const std::string& strSuffix = "", const std::string& strExtension = "")
    {
        testing::internal::CaptureStdout();
        const SBatchResult result =
            RunDecryptionBatch(m_decryptor, "pw", strPrefix, strSuffix, strExtension, paths, m_messages);
        m_strStdout = testing::internal::GetCapturedStdout();
        return result;
    }

    CTempDir m_dir;
    CRecordingMessageSink m_messages;
    CFileDecryptor m_decryptor;
    std::map<std::string, std::string> m_plain;
    std::string m_strStdout;
};

TEST_F(BatchTest, RunDecryptionBatch_EmptyTemplateOnlyWarns)
{
    const std::string strInput = MakeInput("a.bin");
    m_decryptor = CFileDecryptor("alt", "", "");
    for (const auto& paths : {std::vector<std::string>{}, std::vector<std::string>{strInput, m_dir / "x"}}) {
        m_messages.m_messages.clear();
        EXPECT_TRUE(Run(paths, "", "", "").bTemplateEmpty);
        EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kTemplateEmpty, EMessageIcon::Stop}}));
    }
    EXPECT_EQ(m_strStdout, "");
    EXPECT_EQ(m_dir.List(), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(m_decryptor.m_strPrefix, "alt"); // the decryptor keeps its old template
}

TEST_F(BatchTest, RunDecryptionBatch_EmptyListSucceeds)
{
    const SBatchResult result = Run({}, " ", "", "");
    EXPECT_EQ(result.nFailures, 0);
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kBatchSucceeded, EMessageIcon::Default}}));
    // The blank prefix counts as a template and reaches the decryptor.
    EXPECT_EQ(m_decryptor.m_strPrefix, " ");
}

TEST_F(BatchTest, RunDecryptionBatch_MissingMiddleFileFailsAlone)
{
    const std::string strFirst = MakeInput("a.bin");
    const std::string strMissing = m_dir / "../" + m_dir.Path().filename().string() + "/b.bin";
    const std::string strLast = MakeInput("c.bin");
    const SBatchResult result = Run({strFirst, strMissing, strLast}, "", "_klar", ".txt");
    EXPECT_EQ(result.nFailures, 1);
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::FileNotFound(strMissing), EMessageIcon::Default},
                                               {messages::kBatchFailed, EMessageIcon::Stop}}));
    EXPECT_EQ(ReadFileBytes(m_dir / "a_klar.bin.txt"), m_plain["a.bin"]);
    EXPECT_EQ(ReadFileBytes(m_dir / "c_klar.bin.txt"), m_plain["c.bin"]);
    EXPECT_EQ(m_strStdout, "Decrypt the content of the file\nDecrypt the content of the file\n");
}

class CRecordingProgress : public IProgressSink
{
public:
    void OnFileStarted(std::size_t nIndex, std::size_t nCount, const std::string& strPath) override
    {
        m_started.push_back(std::to_string(nIndex) + "/" + std::to_string(nCount) + " " + strPath);
    }
    void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) override
    {
        m_nLastDone = nDone, m_nLastTotal = nTotal;
    }
    std::vector<std::string> m_started;
    std::uint64_t m_nLastDone = 0;
    std::uint64_t m_nLastTotal = 0;
};

TEST_F(BatchTest, RunDecryptionBatch_KeepsOrderAndReportsProgress)
{
    const std::string strB = MakeInput("b.bin");
    const std::string strA = MakeInput("a.bin");
    CRecordingProgress progress;
    RunDecryptionBatch(m_decryptor, "pw", "e_", "", "", {strB, strA}, m_messages, &progress);
    EXPECT_EQ(progress.m_started, (std::vector<std::string>{"0/2 " + strB, "1/2 " + strA}));
    EXPECT_EQ(progress.m_nLastDone, 48U);
    EXPECT_EQ(progress.m_nLastTotal, 48U);
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kBatchSucceeded, EMessageIcon::Default}}));
}

// Asks to stop as soon as the second file starts.
class CCancelAtSecondFile : public IProgressSink
{
public:
    void OnFileStarted(std::size_t nIndex, std::size_t /*nCount*/, const std::string& /*strPath*/) override
    {
        m_bCancel = nIndex >= 1;
    }
    bool IsCancelRequested() override { return m_bCancel; }
    bool m_bCancel = false;
};

TEST_F(BatchTest, RunDecryptionBatch_CancelEndsBatchAtOnce)
{
    const std::string strA = MakeInput("a.bin");
    const std::string strB = MakeInput("b.bin");
    const std::string strC = MakeInput("c.bin");
    CCancelAtSecondFile progress;
    testing::internal::CaptureStdout();
    const SBatchResult result =
        RunDecryptionBatch(m_decryptor, "pw", "e_", "", "", {strA, strB, strC}, m_messages, &progress);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(result.bCancelled);
    EXPECT_EQ(m_messages.m_messages, (Messages{{messages::kBatchCancelled, EMessageIcon::Default}}));
    EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "e_a.bin"}));
}

TEST_F(BatchTest, RunDecryptionBatch_SecondRunReplacesOutputs)
{
    const std::string strInput = MakeInput("a.bin");
    EXPECT_EQ(Run({strInput}).nFailures, 0);
    WriteFileBytes(m_dir / "e_a.bin", "verändert");
    EXPECT_EQ(Run({strInput}).nFailures, 0);
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
    const SBatchResult result = Run({strA, strEA, strY, m_dir / "x.bin"});
    EXPECT_EQ(result.nFailures, 2);
    EXPECT_EQ(ReadFileBytes(strEA), strEncryptedEA);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_e_a.bin"), m_plain["e_a.bin"]);
    EXPECT_EQ(ReadFileBytes(m_dir / "e_x.bin"), m_plain["x.bin"]);
    EXPECT_EQ(m_messages.m_messages,
              (Messages{{messages::OutputWouldReplaceInput(strA, m_dir / "e_a.bin"), EMessageIcon::Stop},
                        {messages::OutputWouldReplaceInput(strY, m_dir / "e_y.bin"), EMessageIcon::Stop},
                        {messages::kBatchFailed, EMessageIcon::Stop}}));
}

} // namespace
} // namespace brasko
