// The bitsliced kernel on AVX2 registers: 256 blocks at a time. Only called when the CPU has AVX2; the
// target pragma comes after every include, so that no inline function shared with other files is
// compiled for AVX2.
#include "DesKernel.h"
#include "SecureBuffer.h"

#include <array>
#include <cstdint>
#include <immintrin.h>

// clang (the fuzz build) ignores GCC's target pragma and takes its own, which ends at the end of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#define BRASKO_DES_INLINE inline __attribute__((always_inline))
#define BRASKO_DES_NOINLINE __attribute__((noinline))

namespace brasko::des {

namespace {

struct SOpsAvx2
{
    using V = __m256i;
    static constexpr std::size_t kLanes = 4;
    static V Load(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void Store(unsigned char* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static V Key(std::uint64_t mask) { return _mm256_set1_epi64x(static_cast<long long>(mask)); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V Not(V a) { return _mm256_xor_si256(a, _mm256_set1_epi64x(-1)); }
    static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    template <unsigned kShift> static V ShiftLeft(V a) { return _mm256_slli_epi64(a, kShift); }
    template <unsigned kShift> static V ShiftRight(V a) { return _mm256_srli_epi64(a, kShift); }
};

#include "BitslicedDes.h"

} // namespace

void DecryptBatchesAvx2(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                        std::size_t nBatches)
{
    DecryptBatches<SBinarySboxes, SOpsAvx2>(keys, pIn, pOut, nBatches);
}

} // namespace brasko::des

#if defined(__clang__)
#pragma clang attribute pop
#endif
