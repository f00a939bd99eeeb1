#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The core as the page uses it: cipher, check and naming, without files, threads or OpenSSL. Everything
// here calls the core's rooms; nothing decides a rule of its own.
namespace brasko::web {

// Overwrites memory that held a password, key or plaintext, in a way the compiler keeps.
void Wipe(void* p, std::size_t nSize);

// The bitsliced kernels of this build: the 64-bit one always, SIMD128 in the build made with -msimd128.
enum class EKernel
{
    U64 = 0,
    Simd128 = 1,
};
bool HasKernel(EKernel kernel);
// The known-answer test of the cipher under the kernel.
bool SelfTest(EKernel kernel);

// A password's key schedules under one kernel. Deleting it wipes them.
class CCipher
{
public:
    // nullptr when the kernel is missing or the schedules cannot be made. The key bytes are wiped at once.
    static CCipher* Open(std::string_view password, EKernel kernel);
    ~CCipher();
    CCipher(const CCipher&) = delete;
    CCipher& operator=(const CCipher&) = delete;
    CCipher(CCipher&&) = delete;
    CCipher& operator=(CCipher&&) = delete;

    // Decrypts a chunk cut by ChunkEnd in place, its short final chunk (if it holds the file's end) by the
    // old tool's rule. bFileStart: the chunk starts the file.
    bool DecryptChunk(unsigned char* pData, std::size_t nLength, bool bFileStart);

private:
    struct SImpl;
    explicit CCipher(std::unique_ptr<SImpl> pImpl);
    std::unique_ptr<SImpl> m_pImpl;
};

// Where the chunk starting at nOffset ends: after nChunkSize bytes (a multiple of the block), or at the end
// of the file, taking in a short final chunk that would otherwise stand alone, so that every chunk can be
// decrypted on its own, by any worker.
std::uint64_t ChunkEnd(std::uint64_t nOffset, std::uint64_t nSize, std::uint64_t nChunkSize);

// The plausibility check: how much of a plaintext it reads, and its verdict.
std::size_t SampleSize();
enum class EVerdict
{
    NotChecked = 0,
    Plausible = 1,
    LooksRandom = 2,
    TooShort = 3,
};
struct SVerdict
{
    EVerdict kind = EVerdict::NotChecked;
    std::string strDescription;
};
SVerdict Judge(const unsigned char* pData, std::size_t nLength);

// The output-name template.
struct STemplate
{
    std::string strPrefix;
    std::string strSuffix;
    std::string strExtension;
};
bool HasTemplate(const STemplate& tpl);

// Why an entry of a batch is not decrypted, as the desktop batch decides it.
enum class EPlanVerdict
{
    Decrypt = 0,
    ReplacesInput = 1,
    DuplicateOutput = 2,
};
struct SPlan
{
    std::vector<std::string> outputs; // relative paths, "/" between folders
    std::vector<EPlanVerdict> verdicts;
};
// Names every output (in the input's folder, by the template) and finds the entries that must not run.
// Inputs are relative paths below one root, "/" between folders.
SPlan PlanBatch(const STemplate& tpl, const std::vector<std::string>& inputs);

// The batch's texts.
enum class EMessage
{
    TemplateEmpty = 0,
    Succeeded = 1,
    Failed = 2,
    Cancelled = 3,
    NotFound = 4,
    ReplacesInput = 5,
    DuplicateOutput = 6,
    PasswordLooksWrong = 7,
    InputShrank = 8,
    DownloadTooLarge = 9,
};
std::string MessageText(EMessage message, const std::string& strPath, const std::string& strOutput);

} // namespace brasko::web
