#pragma once

// The body of every bitsliced kernel, instantiated once per instruction set. A kernel's source file
// includes this header inside an unnamed namespace, after its target pragma, and defines BRASKO_DES_INLINE
// and an operations type O before that:
//   O::V                   the register type; O::kLanes 64-bit lanes in it
//   O::Load(p), Store(p,v) unaligned 8 * kLanes bytes
//   O::Key(mask)           the 64-bit word in every lane
//   And, Or, Xor, Not, AndNot(a, b) = ~a & b, ShiftLeft<n>, ShiftRight<n> per 64-bit lane
//   Tern<imm>(a, b, c)     (three-input kernels only)
// Block r * kLanes + j of a batch sits in lane j at bit r of every slice: 64 * kLanes blocks at a time.

// One round of the transposition below: in every block of 2 * kShift rows, bit c + kShift of row r trades
// places with bit c of row r + kShift, for the columns c whose kShift bit is clear (those in mask).
template <class O, unsigned kShift>
BRASKO_DES_INLINE void TransposeStage(typename O::V* rows, typename O::V mask)
{
    for (unsigned r = 0; r < 64; ++r) {
        if ((r & kShift) != 0)
            continue;
        const typename O::V t =
            O::And(O::Xor(O::template ShiftRight<kShift>(rows[r]), rows[r + kShift]), mask);
        rows[r + kShift] = O::Xor(rows[r + kShift], t);
        rows[r] = O::Xor(rows[r], O::template ShiftLeft<kShift>(t));
    }
}

// The 64 x 64 bit matrix of each lane transposed in place (bit c of row r trades places with bit r of
// row c), by exchanging the off-diagonal halves of ever smaller blocks.
template <class O> BRASKO_DES_INLINE void Transpose64(typename O::V* rows)
{
    TransposeStage<O, 32>(rows, O::Key(0x00000000ffffffffULL));
    TransposeStage<O, 16>(rows, O::Key(0x0000ffff0000ffffULL));
    TransposeStage<O, 8>(rows, O::Key(0x00ff00ff00ff00ffULL));
    TransposeStage<O, 4>(rows, O::Key(0x0f0f0f0f0f0f0f0fULL));
    TransposeStage<O, 2>(rows, O::Key(0x3333333333333333ULL));
    TransposeStage<O, 1>(rows, O::Key(0x5555555555555555ULL));
}

#include "DesCircuits.inc"

// The 16 rounds of one DES operation; the first XORs into the left half (RoundA) or, for the
// operation after an odd number of others, into the right half, because the halves stand swapped then.
template <class S, class O, bool kSwapped>
BRASKO_DES_NOINLINE void DesOperation(typename O::V* x, const std::uint64_t (*pKeys)[des::kRoundKeyBits])
{
    for (unsigned nRound = 0; nRound < 16; nRound += 2) {
        if constexpr (kSwapped) {
            RoundB<S, O>(x, pKeys[nRound]);
            RoundA<S, O>(x, pKeys[nRound + 1]);
        } else {
            RoundA<S, O>(x, pKeys[nRound]);
            RoundB<S, O>(x, pKeys[nRound + 1]);
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
    for (std::size_t nBatch = 0; nBatch < nBatches; ++nBatch) {
        for (unsigned r = 0; r < 64; ++r)
            slices[r] = O::Load(pIn + r * kStride);
        Transpose64<O>(slices);
        for (unsigned nOp = 0; nOp < keys.nDesOperations; ++nOp) {
            if (nOp % 2 == 0)
                DesOperation<S, O, false>(slices, keys.masks + 16 * nOp);
            else
                DesOperation<S, O, true>(slices, keys.masks + 16 * nOp);
        }
        for (unsigned q = 0; q < 64; ++q)
            rows[q] = slices[kOutputSlice[q]];
        Transpose64<O>(rows);
        for (unsigned r = 0; r < 64; ++r)
            O::Store(pOut + r * kStride, rows[r]);
        pIn += 64 * kStride;
        pOut += 64 * kStride;
    }
    // The slices held plaintext.
    SecureWipe(slices, sizeof slices);
    SecureWipe(rows, sizeof rows);
}
