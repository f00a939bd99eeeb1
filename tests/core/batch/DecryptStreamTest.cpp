#include "DecryptStream.h"

#include "AtomicOutputFile.h"
#include "FileDecryptor.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brasko {
namespace {

using test::CRecordingMessageSink;
using test::CTempDir;
using test::ExpectedPlaintext;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr std::size_t kChunk = kChunkSize;
const std::string kPassword = "Passwort";
const std::string kKey = kPassword + std::string(16, ' ');

class CRecordingProgress : public IProgressSink
{
public:
    void OnBytesDone(std::uint64_t nDone, std::uint64_t nTotal) override
    {
        m_reports.emplace_back(nDone, nTotal);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_reports;
};

// The outcome as decrypt-child prints it.
std::string Printed(EDecryptError error, int nSystemError)
{
    return std::to_string(static_cast<int>(error)) + " " + std::to_string(nSystemError);
}

struct SChildRun
{
    int nExitCode = -1;
    std::string strOutcome; // the last line the child printed
};

// Decrypts in a fresh process (see DecryptChild.cpp), which keeps a lowered file-size limit or an odd memory
// map out of the test process, and keeps the decrypting threads from meeting a fork().
SChildRun RunChild(const std::vector<std::string>& args)
{
    std::string strCommand = "'" BRASKO_DECRYPT_CHILD "'";
    for (const std::string& strArg : args)
        strCommand += " '" + strArg + "'";
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
    if (pPipe == nullptr)
        return {};
    std::string strOutput;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pPipe) != nullptr)
        strOutput += buffer.data();
    const int nStatus = ::pclose(pPipe);
    SChildRun run;
    run.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    if (!strOutput.empty() && strOutput.back() == '\n')
        strOutput.pop_back();
    run.strOutcome = strOutput.substr(strOutput.rfind('\n') + 1);
    return run;
}

class DecryptStreamTest : public ::testing::Test
{
protected:
    std::string Decrypt(const std::string& strName, unsigned nJobs, IProgressSink* pProgress = nullptr)
    {
        testing::internal::CaptureStdout();
        const int nResult = CFileDecryptor("e_", "", "")
                                .DecryptFile(m_dir / strName, kPassword, m_messages, pProgress, nJobs);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(nResult, 0);
        return ReadFileBytes(m_dir / ("e_" + strName));
    }

    CTempDir m_dir;
    CRecordingMessageSink m_messages;
};

struct SSizeCase
{
    std::size_t nSize;
    const char* pszWhat;
};

// Sizes around the chunk boundaries, where the parallel path starts and where the short final chunk may
// need the plaintext of the previous chunk's last block.
TEST_F(DecryptStreamTest, DecryptFile_ParallelOutputEqualsSingleThreadAndOracle)
{
    ASSERT_EQ(kChunk % kBlockSize, 0U);
    if (EffectiveJobs(0) < 2)
        GTEST_SKIP() << "one hardware thread: every file is decrypted on the calling thread";
    const std::string strCipher = RandomBytes(5 * kChunk + 16, 21);
    for (const SSizeCase& c :
         {SSizeCase{kChunk - 8, "one block less than a chunk"}, SSizeCase{kChunk, "exactly one chunk"},
          SSizeCase{kChunk + 8, "one block more than a chunk"},
          SSizeCase{kChunk + 3, "a short final chunk alone after the first chunk"},
          SSizeCase{kChunk + 13, "a block and a short piece after the first chunk"},
          SSizeCase{4 * kChunk - 3, "a short piece at the end of a short last chunk"},
          SSizeCase{4 * kChunk + 5, "several chunks and a short final chunk alone"},
          SSizeCase{5 * kChunk, "several whole chunks"}}) {
        SCOPED_TRACE(c.pszWhat);
        const std::string strInput = strCipher.substr(0, c.nSize);
        WriteFileBytes(m_dir / "in.bin", strInput);
        const std::string strSingle = Decrypt("in.bin", 1);
        ASSERT_EQ(strSingle.size(), c.nSize);
        EXPECT_TRUE(strSingle == ExpectedPlaintext(kKey, strInput));
        for (const unsigned nJobs : {2U, 0U}) {
            SCOPED_TRACE(nJobs);
            CRecordingProgress progress;
            EXPECT_TRUE(Decrypt("in.bin", nJobs, &progress) == strSingle);
            // One report per chunk written, in order, up to the whole file.
            ASSERT_EQ(progress.m_reports.size(), (c.nSize + kChunk - 1) / kChunk);
            for (std::size_t i = 0; i < progress.m_reports.size(); ++i)
                EXPECT_EQ(progress.m_reports[i],
                          std::make_pair(std::min<std::uint64_t>((i + 1) * kChunk, c.nSize),
                                         std::uint64_t{c.nSize}));
        }
    }
    EXPECT_TRUE(m_messages.m_messages.empty());
}

// A write that fails with EFBIG once the output passes the limit: after some chunks, or at the first.
TEST_F(DecryptStreamTest, DecryptFile_WriteFailureFailsAsOnOneThreadAndKeepsPreviousOutput)
{
    const std::string strInput = m_dir / "gross.bin";
    WriteFileBytes(strInput, RandomBytes(6 * kChunk + 5, 8));
    const std::string strWriteFailed = Printed(EDecryptError::Write, EFBIG);
    for (const std::string strJobs : {"1", "2", "0"}) {
        SCOPED_TRACE("jobs " + strJobs);
        const std::string strMidway = std::to_string(2 * kChunk + kChunk / 2);
        // No output before: none after, and no temporary file.
        SChildRun run = RunChild({"--file-size-limit", strMidway, strInput, kPassword, "e_", strJobs});
        EXPECT_EQ(run.nExitCode, 0);
        EXPECT_EQ(run.strOutcome, strWriteFailed);
        EXPECT_EQ(m_dir.List(), std::vector<std::string>{"gross.bin"});
        // An older output stays as it was.
        WriteFileBytes(m_dir / "e_gross.bin", "frühere Ausgabe");
        for (const std::string& strLimit : {std::string("100"), strMidway}) {
            run = RunChild({"--file-size-limit", strLimit, strInput, kPassword, "e_", strJobs});
            EXPECT_EQ(run.strOutcome, strWriteFailed);
            EXPECT_EQ(ReadFileBytes(m_dir / "e_gross.bin"), "frühere Ausgabe");
            EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"e_gross.bin", "gross.bin"}));
        }
        // The same limit with room enough succeeds.
        run = RunChild({"--file-size-limit", std::to_string(8 * kChunk), strInput, kPassword, "e_", strJobs});
        EXPECT_EQ(run.strOutcome, Printed(EDecryptError::None, 0));
        EXPECT_EQ(std::filesystem::file_size(m_dir / "e_gross.bin"), 6 * kChunk + 5);
        std::remove((m_dir / "e_gross.bin").c_str());
    }
}

// /proc/self/mem reads as far as memory is mapped from address 0, then fails with EIO: a real read error
// after several chunks. Its size shows as 0, so only the bytes read can lead to the parallel path. The child
// opens it itself, as the decryptor refuses the files of /proc.
TEST_F(DecryptStreamTest, DecryptFile_ReadErrorMidwayFailsAsOnOneThread)
{
    const std::string strPrefix = "../.." + m_dir.Path().string() + "/e_";
    for (const std::string strJobs : {"1", "2", "0"}) {
        SCOPED_TRACE("jobs " + strJobs);
        const SChildRun run =
            RunChild({"--read-descriptor", "--map-at-zero", std::to_string(3 * kChunk + 4096),
                      "/proc/self/mem", kPassword, strPrefix, strJobs});
        if (run.nExitCode == 77)
            GTEST_SKIP() << "memory at address 0 needs CAP_SYS_RAWIO";
        EXPECT_EQ(run.nExitCode, 0);
        EXPECT_EQ(run.strOutcome, Printed(EDecryptError::Read, EIO));
        EXPECT_TRUE(m_dir.List().empty());
    }
}

// Asks to stop once the first chunk has been written.
class CCancelAfterFirstChunk : public IProgressSink
{
public:
    void OnBytesDone(std::uint64_t /*nDone*/, std::uint64_t /*nTotal*/) override { m_bCancel = true; }
    bool IsCancelRequested() override { return m_bCancel; }
    std::atomic<bool> m_bCancel{false};
};

TEST_F(DecryptStreamTest, DecryptFile_CancelLeavesNothingBehind)
{
    WriteFileBytes(m_dir / "gross.bin", RandomBytes(8 * kChunk + 3, 4));
    WriteFileBytes(m_dir / "e_gross.bin", "frühere Ausgabe");
    for (const unsigned nJobs : {1U, 2U}) {
        SCOPED_TRACE(nJobs);
        CCancelAfterFirstChunk progress;
        testing::internal::CaptureStdout();
        const CFileDecryptor decryptor("e_", "", "");
        const SDecryptOutcome outcome =
            decryptor.Decrypt({.strInputPath = m_dir / "gross.bin",
                               .strOutputPath = decryptor.BuildOutputPath(m_dir / "gross.bin"),
                               .cipher = PrepareCipher(kPassword),
                               .messages = m_messages,
                               .pProgress = &progress,
                               .nJobs = nJobs});
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(outcome.error, EDecryptError::Cancelled);
        EXPECT_EQ(ReadFileBytes(m_dir / "e_gross.bin"), "frühere Ausgabe");
        EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"e_gross.bin", "gross.bin"}));
    }
    EXPECT_TRUE(m_messages.m_messages.empty());
}

class DesKernelTest : public ::testing::TestWithParam<EDesKernel>
{
protected:
    void SetUp() override
    {
        if (!DesKernelSupported(GetParam()))
            GTEST_SKIP() << "this CPU lacks " << DesKernelName(GetParam());
    }
};

// The whole stream with the kernel: chunk boundaries and the short final chunk, on one thread and on all,
// against the openssl command line.
TEST_P(DesKernelTest, DecryptStream_MatchesOracleAcrossChunkBoundaries)
{
    CTempDir dir;
    const std::string strKey = "kurz" + std::string(20, ' ');
    CTripleDesKey key;
    std::memcpy(key.Bytes().data(), strKey.data(), kKeyLength);
    const std::string strData = RandomBytes(3 * kChunkSize + 13, 5);
    for (const std::size_t nSize : {kChunkSize + 13, 3 * kChunkSize - 3, std::size_t{5}}) {
        const std::string strCipher = strData.substr(0, nSize);
        WriteFileBytes(dir / "in.bin", strCipher);
        const std::string strExpected = ExpectedPlaintext(strKey, strCipher);
        for (const unsigned nJobs : {1U, 0U}) {
            SCOPED_TRACE(std::to_string(nSize) + " bytes, jobs " + std::to_string(nJobs));
            CTripleDesDecryptor cipher;
            ASSERT_TRUE(cipher.Init(key, GetParam()));
            const int fd = ::open((dir / "in.bin").c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            CAtomicOutputFile output(dir / "out.bin");
            ASSERT_EQ(output.Open(), 0);
            EXPECT_TRUE(DecryptStream(fd, output, cipher, nSize, nullptr, nJobs).Succeeded());
            ::close(fd);
            ASSERT_EQ(output.Commit(), 0);
            EXPECT_TRUE(ReadFileBytes(dir / "out.bin") == strExpected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DesKernelTest,
                         ::testing::Values(EDesKernel::U64, EDesKernel::Avx2, EDesKernel::Avx512,
                                           EDesKernel::Avx512Gfni),
                         [](const ::testing::TestParamInfo<EDesKernel>& info) {
                             return std::string(DesKernelName(info.param));
                         });

} // namespace
} // namespace brasko
