// The bitsliced kernel on 64-bit words, for any CPU: 64 blocks at a time.
#include "DesKernel.h"
#include "SecureBuffer.h"

#include <array>
#include <cstdint>
#include <cstring>

#define BRASKO_DES_INLINE inline __attribute__((always_inline))
#define BRASKO_DES_NOINLINE __attribute__((noinline))

namespace brasko::des {

namespace {

struct SOpsU64
{
    using V = std::uint64_t;
    static constexpr std::size_t kLanes = 1;
    static V Load(const unsigned char* p)
    {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void Store(unsigned char* p, V v) { std::memcpy(p, &v, sizeof v); }
    static V Key(std::uint64_t mask) { return mask; }
    static V And(V a, V b) { return a & b; }
    static V Or(V a, V b) { return a | b; }
    static V Xor(V a, V b) { return a ^ b; }
    static V Not(V a) { return ~a; }
    static V AndNot(V a, V b) { return ~a & b; }
    template <unsigned kShift> static V ShiftLeft(V a) { return a << kShift; }
    template <unsigned kShift> static V ShiftRight(V a) { return a >> kShift; }
};

#include "BitslicedDes.h"

} // namespace

void DecryptBatchesU64(const SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
                       std::size_t nBatches)
{
    DecryptBatches<SBinarySboxes, SOpsU64>(keys, pIn, pOut, nBatches);
}

} // namespace brasko::des
