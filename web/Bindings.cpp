// The page's entry points into the core, as plain C functions of a standalone WebAssembly module: the page
// instantiates the module itself (no emscripten run-time script), so that the same bytes load in the
// page, in its workers and in node, from file:// and from a server alike. Strings travel as UTF-8 bytes
// with their length; texts come back through one result buffer (bd_result_ptr, bd_result_len).
#include "Crc32.h"
#include "WebCore.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#define BD_EXPORT(name) extern "C" __attribute__((export_name(#name), used))

namespace {

using namespace brasko;

std::string g_strResult;

std::string Text(const char* p, std::size_t n)
{
    return n == 0 ? std::string() : std::string(p, n);
}

void SetResult(std::string strText)
{
    web::Wipe(g_strResult.data(), g_strResult.size());
    g_strResult = std::move(strText);
}

} // namespace

BD_EXPORT(bd_alloc) void* BdAlloc(std::size_t nSize)
{
    return std::malloc(nSize);
}

// Wipes and frees: every buffer the page lends the module may have held a password or plaintext.
BD_EXPORT(bd_wipe_free) void BdWipeFree(void* p, std::size_t nSize)
{
    if (p == nullptr)
        return;
    web::Wipe(p, nSize);
    std::free(p);
}

BD_EXPORT(bd_result_ptr) const char* BdResultPtr()
{
    return g_strResult.data();
}

BD_EXPORT(bd_result_len) std::size_t BdResultLen()
{
    return g_strResult.size();
}

BD_EXPORT(bd_has_kernel) int BdHasKernel(int nKernel)
{
    return web::HasKernel(static_cast<web::EKernel>(nKernel)) ? 1 : 0;
}

BD_EXPORT(bd_self_test) int BdSelfTest(int nKernel)
{
    return web::SelfTest(static_cast<web::EKernel>(nKernel)) ? 1 : 0;
}

// A cipher for the password's UTF-8 bytes; 0 when it cannot be set up. The key is not kept.
BD_EXPORT(bd_cipher_open) web::CCipher* BdCipherOpen(const char* pPassword, std::size_t nLength, int nKernel)
{
    return web::CCipher::Open(std::string_view(pPassword, nLength), static_cast<web::EKernel>(nKernel));
}

BD_EXPORT(bd_cipher_close) void BdCipherClose(web::CCipher* pCipher)
{
    delete pCipher;
}

// The end of the chunk that starts at nOffset of a file of nSize bytes (sizes as doubles: exact to 2^53).
BD_EXPORT(bd_chunk_end) double BdChunkEnd(double nOffset, double nSize, double nChunkSize)
{
    return static_cast<double>(web::ChunkEnd(static_cast<std::uint64_t>(nOffset),
                                             static_cast<std::uint64_t>(nSize),
                                             static_cast<std::uint64_t>(nChunkSize)));
}

// Decrypts a chunk that ChunkEnd cut, in place. bFileStart: the chunk is the first of its file.
BD_EXPORT(bd_decrypt_chunk)
int BdDecryptChunk(web::CCipher* pCipher, unsigned char* pData, std::size_t nLength, int bFileStart)
{
    return pCipher != nullptr && pCipher->DecryptChunk(pData, nLength, bFileStart != 0) ? 1 : 0;
}

BD_EXPORT(bd_crc32) std::uint32_t BdCrc32(std::uint32_t nCrc, const unsigned char* pData, std::size_t nLength)
{
    return web::Crc32(nCrc, pData, nLength);
}

BD_EXPORT(bd_crc32_combine)
std::uint32_t BdCrc32Combine(std::uint32_t nCrc1, std::uint32_t nCrc2, double nLength2)
{
    return web::Crc32Combine(nCrc1, nCrc2, static_cast<std::uint64_t>(nLength2));
}

BD_EXPORT(bd_sample_size) std::size_t BdSampleSize()
{
    return web::SampleSize();
}

// 1 plausible, 2 looks random, 3 too short; the description in the result buffer.
BD_EXPORT(bd_judge) int BdJudge(const unsigned char* pData, std::size_t nLength)
{
    web::SVerdict verdict = web::Judge(pData, nLength);
    SetResult(std::move(verdict.strDescription));
    return static_cast<int>(verdict.kind);
}

BD_EXPORT(bd_has_template)
int BdHasTemplate(const char* pPrefix, std::size_t nPrefix, const char* pSuffix, std::size_t nSuffix,
                  const char* pExtension, std::size_t nExtension)
{
    return web::HasTemplate({Text(pPrefix, nPrefix), Text(pSuffix, nSuffix), Text(pExtension, nExtension)})
               ? 1
               : 0;
}

// Plans a batch of nCount relative input paths, given NUL-separated. The result buffer holds, per entry,
// its verdict digit and its relative output path, all NUL-separated; the answer is nCount.
BD_EXPORT(bd_plan)
int BdPlan(const char* pPrefix, std::size_t nPrefix, const char* pSuffix, std::size_t nSuffix,
           const char* pExtension, std::size_t nExtension, const char* pList, std::size_t nList, int nCount)
{
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(nCount));
    const std::string_view list(pList, nList);
    std::size_t nPos = 0;
    for (int i = 0; i < nCount; ++i) {
        std::size_t nEnd = list.find('\0', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = list.size();
        paths.emplace_back(list.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
    }
    const web::SPlan plan =
        web::PlanBatch({Text(pPrefix, nPrefix), Text(pSuffix, nSuffix), Text(pExtension, nExtension)}, paths);
    std::string strResult;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i > 0)
            strResult += '\0';
        strResult += static_cast<char>('0' + static_cast<int>(plan.verdicts[i]));
        strResult += '\0';
        strResult += plan.outputs[i];
    }
    SetResult(std::move(strResult));
    return nCount;
}

// A message of the batch (web::EMessage) with the input's and the output's path where it names them.
BD_EXPORT(bd_message)
void BdMessage(int nKind, const char* pPath, std::size_t nPath, const char* pOutput, std::size_t nOutput)
{
    SetResult(
        web::MessageText(static_cast<web::EMessage>(nKind), Text(pPath, nPath), Text(pOutput, nOutput)));
}
