// The bitsliced kernel on WebAssembly SIMD128 registers: 128 blocks at a time. Built only for the web page
// (emscripten with -msimd128); a browser without SIMD refuses the whole module, so the page then loads the
// build without this file, which has the 64-bit kernel only.
#include "DesKernel.h"
#include "SecureBuffer.h"

#include <array>
#include <cstdint>
#include <wasm_simd128.h>

#define BRASKO_DES_INLINE inline __attribute__((always_inline))
#define BRASKO_DES_NOINLINE __attribute__((noinline))

namespace brasko::des {

namespace {

struct SOpsSimd128
{
    using V = v128_t;
    static constexpr std::size_t kLanes = 2;
    static constexpr bool kRoundCalls = true;
    static V Load(const unsigned char* p) { return wasm_v128_load(p); }
    static void Store(unsigned char* p, V v) { wasm_v128_store(p, v); }
    static V Key(std::uint64_t mask) { return wasm_u64x2_splat(mask); }
    static V And(V a, V b) { return wasm_v128_and(a, b); }
    static V Or(V a, V b) { return wasm_v128_or(a, b); }
    static V Xor(V a, V b) { return wasm_v128_xor(a, b); }
    static V Not(V a) { return wasm_v128_not(a); }
    // wasm's andnot(x, y) is x & ~y; this is ~a & b, as in the other kernels.
    static V AndNot(V a, V b) { return wasm_v128_andnot(b, a); }
    template <unsigned kShift> static V ShiftLeft(V a) { return wasm_i64x2_shl(a, kShift); }
    template <unsigned kShift> static V ShiftRight(V a) { return wasm_u64x2_shr(a, kShift); }
};

#include "BitslicedDes.h"

} // namespace

void DecryptBatchesSimd128(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                           std::size_t nBatches)
{
    DecryptBatches<SBinarySboxes, SOpsSimd128>(keys, pIn, pOut, nBatches);
}

} // namespace brasko::des
