#pragma once

#include <cstddef>
#include <cstdint>

// The bitsliced Triple-DES kernels. Internal to the cipher: BitslicedKey.cpp chooses one and owns the key.
namespace brasko::des {

// Round keys in the order the rounds use them, one word per key bit: all ones or all zeros, so that a
// kernel XORs a broadcast of it into every block and no index or branch depends on the key. 16 rounds
// for one DES operation, 48 for three.
inline constexpr std::size_t kRoundKeyBits = 48;
inline constexpr std::size_t kMaxRounds = 48;
struct SRoundKeys
{
    std::uint64_t masks[kMaxRounds][kRoundKeyBits];
    unsigned nDesOperations; // 1 or 3
};

// Each kernel decrypts nBatches whole batches of its width (blocks at a time); in may equal out. Between
// the DES operations the halves carry on in bitsliced form: the final permutation of one and the initial
// permutation of the next cancel out.
inline constexpr std::size_t kU64Blocks = 64;
inline constexpr std::size_t kAvx2Blocks = 256;
inline constexpr std::size_t kAvx512Blocks = 512;
void DecryptBatchesU64(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                       std::size_t nBatches);
void DecryptBatchesAvx2(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                        std::size_t nBatches);
void DecryptBatchesAvx512(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                          std::size_t nBatches);
// The same on CPUs with AVX512-BW, AVX512-VBMI and GFNI, which transpose each batch with fewer operations.
void DecryptBatchesAvx512Gfni(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                              std::size_t nBatches);
// WebAssembly SIMD128, in the web page's build made with -msimd128 only.
#ifdef __wasm_simd128__
inline constexpr std::size_t kSimd128Blocks = 128;
void DecryptBatchesSimd128(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                           std::size_t nBatches);
#endif

} // namespace brasko::des
