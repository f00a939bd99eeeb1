// The AVX-512 kernel with its transposition done by byte permutes (AVX512-VBMI) and the GF(2) affine
// instruction (GFNI) instead of shifts: same rounds, same slice layout. Only called when the CPU has
// AVX-512F, BW, VBMI and GFNI; the target pragma comes after every include, as in DesKernelAvx512.cpp.
#include "DesKernel.h"
#include "SecureBuffer.h"

#include <array>
#include <cstdint>
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512bw,avx512vbmi,gfni")
#endif
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#define BRASKO_DES_INLINE inline __attribute__((always_inline))
#define BRASKO_DES_NOINLINE __attribute__((noinline))

namespace brasko::des {

namespace {

// Byte indices for _mm512_permutex2var_epi8 that transpose 8 x 8 bytes per 64-bit lane across eight
// registers, one level at a time: level k exchanges bit k of the register number with bit k of the byte
// number in the lane. low[k] gives the register whose bit k is clear, high[k] its partner.
struct SByteTransposeIndices
{
    alignas(64) std::uint8_t low[3][64];
    alignas(64) std::uint8_t high[3][64];
};
constexpr SByteTransposeIndices MakeByteTransposeIndices()
{
    SByteTransposeIndices indices{};
    for (unsigned k = 0; k < 3; ++k) {
        const unsigned nStep = 1U << k;
        for (unsigned p = 0; p < 64; ++p) {
            indices.low[k][p] = static_cast<std::uint8_t>((p & nStep) != 0 ? 64 + p - nStep : p);
            indices.high[k][p] = static_cast<std::uint8_t>((p & nStep) != 0 ? 64 + p : p + nStep);
        }
    }
    return indices;
}
constexpr SByteTransposeIndices kByteTranspose = MakeByteTransposeIndices();

#include "DesOpsAvx512.h"

struct SOpsAvx512Gfni : SOpsAvx512
{
    // Eight registers, per 64-bit lane an 8 x 8 byte matrix (register i, byte j), transposed.
    static BRASKO_DES_INLINE void TransposeBytes(V* v, const V* pLow, const V* pHigh)
    {
        for (unsigned i = 0; i < 4; ++i) {
            const V a = v[i];
            v[i] = _mm512_permutex2var_epi8(a, pLow[2], v[i + 4]);
            v[i + 4] = _mm512_permutex2var_epi8(a, pHigh[2], v[i + 4]);
        }
        for (unsigned i : {0U, 1U, 4U, 5U}) {
            const V a = v[i];
            v[i] = _mm512_permutex2var_epi8(a, pLow[1], v[i + 2]);
            v[i + 2] = _mm512_permutex2var_epi8(a, pHigh[1], v[i + 2]);
        }
        for (unsigned i = 0; i < 8; i += 2) {
            const V a = v[i];
            v[i] = _mm512_permutex2var_epi8(a, pLow[0], v[i + 1]);
            v[i + 1] = _mm512_permutex2var_epi8(a, pHigh[0], v[i + 1]);
        }
    }

    // The transposition of Transpose64 (bit c of row r <-> bit r of row c, per lane). Row r = 8R + i, column
    // c = 8C + j: first the bytes C of rows 8R..8R + 7 gather in one lane (rows in reverse order), then
    // gf2p8affine with the matrix operand taken from that lane and byte j of the vector operand = 1 << j
    // gives byte j = bit j of each of the eight bytes, bit i from row 8R + i; last the bytes R of those
    // results scatter to the rows 8C + j.
    template <class Load, class Store>
    static BRASKO_DES_INLINE void Transpose64(Load load, V* temp, Store store)
    {
        V low[3];
        V high[3];
        for (unsigned k = 0; k < 3; ++k) {
            low[k] = _mm512_load_si512(kByteTranspose.low[k]);
            high[k] = _mm512_load_si512(kByteTranspose.high[k]);
        }
        const V bitSelect = Key(0x8040201008040201ULL);
        for (unsigned nR = 0; nR < 8; ++nR) {
            V v[8];
            for (unsigned i = 0; i < 8; ++i)
                v[i] = load(8 * nR + 7 - i);
            TransposeBytes(v, low, high);
            for (unsigned nC = 0; nC < 8; ++nC)
                temp[8 * nC + nR] = _mm512_gf2p8affine_epi64_epi8(bitSelect, v[nC], 0);
        }
        for (unsigned nC = 0; nC < 8; ++nC) {
            V v[8];
            for (unsigned nR = 0; nR < 8; ++nR)
                v[nR] = temp[8 * nC + nR];
            TransposeBytes(v, low, high);
            for (unsigned j = 0; j < 8; ++j)
                store(8 * nC + j, v[j]);
        }
    }
};

#include "BitslicedDes.h"

} // namespace

void DecryptBatchesAvx512Gfni(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                              std::size_t nBatches)
{
    DecryptBatches<STernarySboxes, SOpsAvx512Gfni>(keys, pIn, pOut, nBatches);
}

} // namespace brasko::des

#if defined(__clang__)
#pragma clang attribute pop
#endif
