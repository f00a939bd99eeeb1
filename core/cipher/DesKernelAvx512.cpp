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

#include "BitslicedDes.h"
#include "DesOpsAvx512.h"

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
