#pragma once

// The body of every bitsliced kernel, instantiated once per instruction set. A kernel's source file
// includes this header inside an unnamed namespace, after its target pragma, and defines BRASKO_DES_INLINE
// and an operations type O before that:
//   O::V                   the register type; O::kLanes 64-bit lanes in it
//   O::Load(p), Store(p,v) unaligned 8 * kLanes bytes
//   O::Key(mask)           the 64-bit word in every lane
//   And, Or, Xor, Not, AndNot(a, b) = ~a & b, ShiftLeft<n>, ShiftRight<n> per 64-bit lane
//   Tern<imm>(a, b, c)     (three-input kernels only)
//   Hold(v)                (optional) v kept in a register: such a kernel decrypts two batches at once, every
//                          key bit loaded once for both
// Block r * kLanes + j of a batch sits in lane j at bit r of every slice: 64 * kLanes blocks at a time.

// One exchange of the transposition below: bit c + kShift of lo trades places with bit c of hi, for the
// columns c whose kShift bit is clear (those in mask).
template <class O, unsigned kShift>
BRASKO_DES_INLINE void Exchange(typename O::V& lo, typename O::V& hi, typename O::V mask)
{
    using V = typename O::V;
    if constexpr (requires(V v) { O::template Tern<0xca>(v, v, v); }) {
        // Two selects (mask ? x : y) where three-input logic has them in one instruction each.
        const V newHi = O::template Tern<0xca>(mask, O::template ShiftRight<kShift>(lo), hi);
        lo = O::template Tern<0xca>(mask, lo, O::template ShiftLeft<kShift>(hi));
        hi = newHi;
    } else {
        const V t = O::And(O::Xor(O::template ShiftRight<kShift>(lo), hi), mask);
        hi = O::Xor(hi, t);
        lo = O::Xor(lo, O::template ShiftLeft<kShift>(t));
    }
}

// Three rounds of the transposition on eight rows held in registers: v[i] and v[i + 4] exchange at kShift1,
// v[i] and v[i + 2] at kShift2, v[i] and v[i + 1] at kShift3.
template <class O, unsigned kShift1, unsigned kShift2, unsigned kShift3>
BRASKO_DES_INLINE void Transpose8(typename O::V* v, std::uint64_t mask1, std::uint64_t mask2,
                                  std::uint64_t mask3)
{
    for (unsigned i = 0; i < 4; ++i)
        Exchange<O, kShift1>(v[i], v[i + 4], O::Key(mask1));
    for (unsigned i : {0U, 1U, 4U, 5U})
        Exchange<O, kShift2>(v[i], v[i + 2], O::Key(mask2));
    for (unsigned i = 0; i < 8; i += 2)
        Exchange<O, kShift3>(v[i], v[i + 1], O::Key(mask3));
}

// The 64 x 64 bit matrix of each lane transposed (bit c of row r trades places with bit r of row c), in two
// passes of eight rows at a time so that each pass runs in registers: the exchanges at 32, 16 and 8 swap
// bits 5..3 of the row number with bits 5..3 of the column and only involve rows j + 8m (m = 0..7); those
// at 4, 2 and 1 only involve rows 8g..8g + 7. Exchanges of different bits commute, so the passes may run
// in this order. Row r comes from load(r) and goes to store(r, value), which fuses the transposition into
// reading the input and writing the output.
template <class O, class Load, class Store>
BRASKO_DES_INLINE void Transpose64(Load load, typename O::V* temp, Store store)
{
    using V = typename O::V;
    for (unsigned j = 0; j < 8; ++j) {
        V v[8];
        for (unsigned m = 0; m < 8; ++m)
            v[m] = load(j + 8 * m);
        Transpose8<O, 32, 16, 8>(v, 0x00000000ffffffffULL, 0x0000ffff0000ffffULL, 0x00ff00ff00ff00ffULL);
        for (unsigned m = 0; m < 8; ++m)
            temp[j + 8 * m] = v[m];
    }
    for (unsigned g = 0; g < 8; ++g) {
        V v[8];
        for (unsigned i = 0; i < 8; ++i)
            v[i] = temp[8 * g + i];
        Transpose8<O, 4, 2, 1>(v, 0x0f0f0f0f0f0f0f0fULL, 0x3333333333333333ULL, 0x5555555555555555ULL);
        for (unsigned i = 0; i < 8; ++i)
            store(8 * g + i, v[i]);
    }
}

// The transposition a batch goes through: the ops type's own where it has one (O::Transpose64), else the
// exchanges above.
template <class O, class Load, class Store>
BRASKO_DES_INLINE void TransposeBatch(Load load, typename O::V* temp, Store store)
{
    if constexpr (requires { O::Transpose64(load, temp, store); })
        O::Transpose64(load, temp, store);
    else
        Transpose64<O>(load, temp, store);
}

#include "DesCircuits.inc"

// One round. An ops type with kRoundCalls has each round as a function of its own: a WebAssembly engine
// then addresses the round keys and slices from two parameters with constant offsets, and a small function
// leaves its first compiler for optimised code sooner than a body of 16 rounds.
template <class S, class O, bool kLeft>
BRASKO_DES_NOINLINE void RoundCall(typename O::V* x, const std::uint64_t* k)
{
    if constexpr (kLeft)
        RoundA<S, O>(x, k);
    else
        RoundB<S, O>(x, k);
}

template <class S, class O, bool kLeft> BRASKO_DES_INLINE void Round(typename O::V* x, const std::uint64_t* k)
{
    if constexpr (requires { requires O::kRoundCalls; })
        RoundCall<S, O, kLeft>(x, k);
    else if constexpr (kLeft)
        RoundA<S, O>(x, k);
    else
        RoundB<S, O>(x, k);
}

// The 16 rounds of one DES operation; the first XORs into the left half (RoundA) or, for the
// operation after an odd number of others, into the right half, because the halves stand swapped then.
template <class S, class O, bool kSwapped>
BRASKO_DES_NOINLINE void DesOperation(typename O::V* x, const std::uint64_t (*pKeys)[des::kRoundKeyBits])
{
    for (unsigned nRound = 0; nRound < 16; nRound += 2) {
        if constexpr (kSwapped) {
            Round<S, O, false>(x, pKeys[nRound]);
            Round<S, O, true>(x, pKeys[nRound + 1]);
        } else {
            Round<S, O, true>(x, pKeys[nRound]);
            Round<S, O, false>(x, pKeys[nRound + 1]);
        }
    }
}

// DesOperation on two batches at once (RoundPA, RoundPB), for kernels whose registers hold a key bit
// across both (O::Hold).
template <class S, class O, bool kSwapped>
BRASKO_DES_NOINLINE void DesOperationPair(typename O::V* x, typename O::V* y,
                                          const std::uint64_t (*pKeys)[des::kRoundKeyBits])
{
    for (unsigned nRound = 0; nRound < 16; nRound += 2) {
        if constexpr (kSwapped) {
            RoundPB<S, O>(x, y, pKeys[nRound]);
            RoundPA<S, O>(x, y, pKeys[nRound + 1]);
        } else {
            RoundPA<S, O>(x, y, pKeys[nRound]);
            RoundPB<S, O>(x, y, pKeys[nRound + 1]);
        }
    }
}

template <class S, class O>
void DecryptBatches(const des::SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                    std::size_t nBatches)
{
    using V = typename O::V;
    constexpr std::size_t kStride = 8 * O::kLanes;
    alignas(64) V slices[64];
    alignas(64) V rows[64];
    if constexpr (requires(V v) { O::Hold(v); }) {
        alignas(64) V second[64];
        for (; nBatches >= 2; nBatches -= 2) {
            TransposeBatch<O>([pIn](unsigned r) { return O::Load(pIn + r * kStride); }, rows,
                              [&slices](unsigned r, V v) { slices[r] = v; });
            TransposeBatch<O>([pIn](unsigned r) { return O::Load(pIn + (64 + r) * kStride); }, rows,
                              [&second](unsigned r, V v) { second[r] = v; });
            for (unsigned nOp = 0; nOp < keys.nDesOperations; ++nOp) {
                if (nOp % 2 == 0)
                    DesOperationPair<S, O, false>(slices, second, keys.masks + std::size_t{16} * nOp);
                else
                    DesOperationPair<S, O, true>(slices, second, keys.masks + std::size_t{16} * nOp);
            }
            TransposeBatch<O>([&slices](unsigned q) { return slices[kOutputSlice[q]]; }, rows,
                              [pOut](unsigned r, V v) { O::Store(pOut + r * kStride, v); });
            TransposeBatch<O>([&second](unsigned q) { return second[kOutputSlice[q]]; }, rows,
                              [pOut](unsigned r, V v) { O::Store(pOut + (64 + r) * kStride, v); });
            pIn += 128 * kStride;
            pOut += 128 * kStride;
        }
        SecureWipe(second, sizeof second);
    }
    for (std::size_t nBatch = 0; nBatch < nBatches; ++nBatch) {
        TransposeBatch<O>([pIn](unsigned r) { return O::Load(pIn + r * kStride); }, rows,
                          [&slices](unsigned r, V v) { slices[r] = v; });
        for (unsigned nOp = 0; nOp < keys.nDesOperations; ++nOp) {
            if (nOp % 2 == 0)
                DesOperation<S, O, false>(slices, keys.masks + std::size_t{16} * nOp);
            else
                DesOperation<S, O, true>(slices, keys.masks + std::size_t{16} * nOp);
        }
        TransposeBatch<O>([&slices](unsigned q) { return slices[kOutputSlice[q]]; }, rows,
                          [pOut](unsigned r, V v) { O::Store(pOut + r * kStride, v); });
        pIn += 64 * kStride;
        pOut += 64 * kStride;
    }
    // The slices held plaintext.
    SecureWipe(slices, sizeof slices);
    SecureWipe(rows, sizeof rows);
}
