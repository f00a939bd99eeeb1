#include "BitslicedKey.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

namespace brasko {

namespace {

// Key schedule tables of DES, 1-based bit numbers, the first bit the most significant of the first byte.
constexpr std::array<std::uint8_t, 56> kPc1 = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                               10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                               63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                               14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::array<std::uint8_t, 48> kPc2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::array<std::uint8_t, 16> kRotations = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// For every round (in encryption order) and bit of its round key, the bit of the 8-byte key it is: 0 the
// most significant bit of the first byte. Worked out once, at compile time, from the tables above.
constexpr auto kRoundKeySources = [] {
    std::array<std::array<std::uint8_t, des::kRoundKeyBits>, 16> sources{};
    unsigned nShift = 0;
    for (unsigned nRound = 0; nRound < 16; ++nRound) {
        nShift += kRotations[nRound];
        for (unsigned j = 0; j < des::kRoundKeyBits; ++j) {
            const unsigned p = kPc2[j] - 1U; // 0..55 in C (0..27) and D (28..55)
            const unsigned nHalf = p / 28 * 28;
            const unsigned nSource = nHalf + (p - nHalf + nShift) % 28;
            sources[nRound][j] = static_cast<std::uint8_t>(kPc1[nSource] - 1U);
        }
    }
    return sources;
}();

#define BRASKO_DES_INLINE inline
#include "DesCircuits.inc"
#undef BRASKO_DES_INLINE

// The two-input S-boxes put some outputs into the left half complemented (a Not saved in every round).
// A complemented slice s meets a round key bit k as ~s ^ k = s ^ ~k, so flipping that key bit makes up for
// it. Which slices stand complemented depends on the round only, never on the key: worked out here once,
// in the order DecryptBatches runs RoundA (0) and RoundB (1). Bit j of flips[r]: flip bit j of round r.
struct SKeyFlips
{
    std::array<std::uint64_t, des::kMaxRounds> flips{};
    bool bClearAfterEachOperation = true; // no slice complemented where a DES operation may end
};
constexpr SKeyFlips kTwoInputKeyFlips = [] {
    SKeyFlips result;
    std::uint64_t nComplemented = 0; // bit s: slice s
    for (unsigned nRound = 0; nRound < des::kMaxRounds; ++nRound) {
        const unsigned v = (nRound / 16 + nRound) % 2;
        for (unsigned j = 0; j < des::kRoundKeyBits; ++j)
            result.flips[nRound] |= ((nComplemented >> kRoundKeySlice[v][j]) & 1U) << j;
        for (unsigned k = 0; k < 32; ++k) {
            if (((SBinarySboxes::kComplemented >> k) & 1U) != 0)
                nComplemented ^= std::uint64_t{1} << kRoundOutputSlice[v][k];
        }
        if (nRound % 16 == 15 && nComplemented != 0)
            result.bClearAfterEachOperation = false;
    }
    return result;
}();
static_assert(kTwoInputKeyFlips.bClearAfterEachOperation,
              "the output transposition would need the complemented slices put right");

// The round keys for a kernel of two-input S-boxes: the same flips whatever the key.
void FlipForTwoInputSboxes(des::SRoundKeys& keys)
{
    for (unsigned nRound = 0; nRound < 16 * keys.nDesOperations; ++nRound) {
        for (unsigned j = 0; j < des::kRoundKeyBits; ++j)
            keys.masks[nRound][j] ^= 0 - ((kTwoInputKeyFlips.flips[nRound] >> j) & 1U);
    }
}

// The 16 round keys of one 8-byte DES key, as masks, in encryption order (or reversed, for decryption),
// written to pOut[0..15]. Every index here is fixed; the key only flows through shifts and masks.
void ScheduleDes(const unsigned char* pKey, bool bDecrypt, std::uint64_t (*pOut)[des::kRoundKeyBits])
{
    for (unsigned nRound = 0; nRound < 16; ++nRound) {
        std::uint64_t* pMasks = pOut[bDecrypt ? 15 - nRound : nRound];
        for (unsigned j = 0; j < des::kRoundKeyBits; ++j) {
            const unsigned n = kRoundKeySources[nRound][j];
            pMasks[j] = 0 - static_cast<std::uint64_t>((pKey[n / 8] >> (7 - n % 8)) & 1U);
        }
    }
}

// Whether two 8-byte keys are equal, looking at every byte whatever the first difference.
bool SameDesKey(const unsigned char* pA, const unsigned char* pB)
{
    unsigned nDifference = 0;
    for (std::size_t i = 0; i < 8; ++i)
        nDifference |= static_cast<unsigned>(pA[i] ^ pB[i]);
    return nDifference == 0;
}

// D_K1(E_K2(D_K3(c))) collapses to one DES decryption when K2 = K3 (under K1) or K1 = K2
// (under K3). The comparisons do not stop at the first difference.
void ScheduleTripleDes(const CTripleDesKey& key, des::SRoundKeys& keys)
{
    const unsigned char* pK1 = key.Bytes().data();
    const unsigned char* pK2 = pK1 + 8;
    const unsigned char* pK3 = pK1 + 16;
    if (SameDesKey(pK2, pK3)) {
        ScheduleDes(pK1, true, keys.masks);
        keys.nDesOperations = 1;
    } else if (SameDesKey(pK1, pK2)) {
        ScheduleDes(pK3, true, keys.masks);
        keys.nDesOperations = 1;
    } else {
        ScheduleDes(pK3, true, keys.masks);
        ScheduleDes(pK2, false, keys.masks + 16);
        ScheduleDes(pK1, true, keys.masks + 32);
        keys.nDesOperations = 3;
    }
}

} // namespace

CBitslicedKey::CBitslicedKey(CSecureBuffer pages, DecryptBatchesFn decryptBatches, std::size_t nBatchBlocks)
    : m_pages(std::move(pages)), m_decryptBatches(decryptBatches), m_nBatchBlocks(nBatchBlocks)
{}

std::shared_ptr<const CBitslicedKey> CBitslicedKey::Create(const CTripleDesKey& key, EDesKernel kernel,
                                                           EMemoryLock lock)
{
    DecryptBatchesFn decryptBatches = des::DecryptBatchesU64;
    std::size_t nBatchBlocks = des::kU64Blocks;
    bool bTwoInputSboxes = true; // all kernels but AVX-512's, which has three-input ones
    switch (kernel) {
    case EDesKernel::Evp:
        return nullptr;
    case EDesKernel::U64:
        break;
#ifdef __wasm_simd128__
    case EDesKernel::Simd128:
        decryptBatches = des::DecryptBatchesSimd128;
        nBatchBlocks = des::kSimd128Blocks;
        break;
#endif
#if defined(__x86_64__) || defined(__i386__)
    case EDesKernel::Avx2:
        decryptBatches = des::DecryptBatchesAvx2;
        nBatchBlocks = des::kAvx2Blocks;
        break;
    case EDesKernel::Avx512:
    case EDesKernel::Avx512Gfni:
        decryptBatches =
            kernel == EDesKernel::Avx512 ? des::DecryptBatchesAvx512 : des::DecryptBatchesAvx512Gfni;
        nBatchBlocks = des::kAvx512Blocks;
        bTwoInputSboxes = false;
        break;
#else
    default:
        return nullptr;
#endif
    }
    try {
        CSecureBuffer pages(sizeof(des::SRoundKeys), lock);
        pages.Resize(sizeof(des::SRoundKeys));
        auto& keys = *new (pages.Data()) des::SRoundKeys;
        ScheduleTripleDes(key, keys);
        if (bTwoInputSboxes)
            FlipForTwoInputSboxes(keys);
        return std::shared_ptr<const CBitslicedKey>(
            new CBitslicedKey(std::move(pages), decryptBatches, nBatchBlocks));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CBitslicedKey::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nBlocks) const
{
    const auto& keys = *reinterpret_cast<const des::SRoundKeys*>(m_pages.Data());
    const std::size_t nBatches = nBlocks / m_nBatchBlocks;
    if (nBatches > 0)
        m_decryptBatches(keys, pIn, pOut, nBatches);
    // A partial batch at the end goes through a whole one, the rest of it zeros.
    if (const std::size_t nRest = nBlocks % m_nBatchBlocks; nRest > 0) {
        const std::size_t nDone = nBatches * m_nBatchBlocks * kBlockSize;
        alignas(64) unsigned char batch[des::kAvx512Blocks * kBlockSize];
        std::memcpy(batch, pIn + nDone, nRest * kBlockSize);
        std::memset(batch + nRest * kBlockSize, 0, (m_nBatchBlocks - nRest) * kBlockSize);
        m_decryptBatches(keys, batch, batch, 1);
        std::memcpy(pOut + nDone, batch, nRest * kBlockSize);
        SecureWipe(batch, m_nBatchBlocks * kBlockSize);
    }
}

} // namespace brasko
