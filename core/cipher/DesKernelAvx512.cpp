// The bitsliced kernel on AVX-512 registers, with three-input logic (vpternlog): 512 blocks at a time.
// Only called when the CPU has AVX-512F; the target pragma comes after every include, so that no inline
// function shared with other files is compiled for AVX-512.
#include "DesKernel.h"
#include "SecureBuffer.h"

#include <array>
#include <cstdint>
#include <immintrin.h>

// clang (the fuzz build) ignores GCC's target pragma and takes its own, which ends at the end of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC target("avx512f")
#endif
// GCC 12 takes the undefined pass-through operand inside the shift intrinsics for an uninitialised value.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#define BRASKO_DES_INLINE inline __attribute__((always_inline))
#define BRASKO_DES_NOINLINE __attribute__((noinline))

namespace brasko::des {

namespace {

struct SOpsAvx512
{
    using V = __m512i;
    static constexpr std::size_t kLanes = 8;
    static V Load(const unsigned char* p) { return _mm512_loadu_si512(p); }
    static void Store(unsigned char* p, V v) { _mm512_storeu_si512(p, v); }
    static V Key(std::uint64_t mask) { return _mm512_set1_epi64(static_cast<long long>(mask)); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V Xor(V a, V b) { return _mm512_xor_epi64(a, b); }
    static V Not(V a) { return _mm512_ternarylogic_epi64(a, a, a, 0x0f); }
    static V AndNot(V a, V b) { return _mm512_ternarylogic_epi64(a, b, b, 0x0c); } // ~a & b
    template <unsigned kImm> static V Tern(V a, V b, V c) { return _mm512_ternarylogic_epi64(a, b, c, kImm); }
    template <unsigned kShift> static V ShiftLeft(V a) { return _mm512_slli_epi64(a, kShift); }
    template <unsigned kShift> static V ShiftRight(V a) { return _mm512_srli_epi64(a, kShift); }
    // The value in a register: the compiler may not fold its load into each instruction that uses it.
    static V Hold(V v)
    {
        asm("" : "+v"(v));
        return v;
    }
};

#include "BitslicedDes.h"

} // namespace

void DecryptBatchesAvx512(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                          std::size_t nBatches)
{
    DecryptBatches<STernarySboxes, SOpsAvx512>(keys, pIn, pOut, nBatches);
}

} // namespace brasko::des

#if defined(__clang__)
#pragma clang attribute pop
#endif
