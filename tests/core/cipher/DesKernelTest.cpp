#include "TripleDes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <string>

namespace brasko {
namespace {

using test::RandomBytes;

// The S-box circuits, evaluated on 64-bit words whose bit n is input n: one call gives whole truth tables.
#define BRASKO_DES_INLINE inline
struct SOpsTruthTable
{
    using V = std::uint64_t;
    static V And(V a, V b) { return a & b; }
    static V Or(V a, V b) { return a | b; }
    static V Xor(V a, V b) { return a ^ b; }
    static V Not(V a) { return ~a; }
    static V AndNot(V a, V b) { return ~a & b; }
    template <unsigned kImm> static V Tern(V a, V b, V c)
    {
        V result = 0;
        for (unsigned n = 0; n < 8; ++n) {
            if ((kImm >> n) & 1U)
                result |= ((n & 4U) != 0 ? a : ~a) & ((n & 2U) != 0 ? b : ~b) & ((n & 1U) != 0 ? c : ~c);
        }
        return result;
    }
};
#include "DesCircuits.inc"
#undef BRASKO_DES_INLINE

// The S-boxes as the DES standard prints them (FIPS 46-3): row from the outer bits, column from the inner.
constexpr std::uint8_t kSboxTables[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

template <class S>
void EvaluateSbox(unsigned nBox, const std::array<std::uint64_t, 6>& a, std::array<std::uint64_t, 4>& l)
{
    using O = SOpsTruthTable;
    switch (nBox) {
    case 0:
        S::template Sbox1<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 1:
        S::template Sbox2<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 2:
        S::template Sbox3<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 3:
        S::template Sbox4<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 4:
        S::template Sbox5<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 5:
        S::template Sbox6<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    case 6:
        S::template Sbox7<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    default:
        S::template Sbox8<O>(a[0], a[1], a[2], a[3], a[4], a[5], l[0], l[1], l[2], l[3]);
        break;
    }
}

// Every generated S-box, of both gate sets, on all 64 inputs, XORed into zeros and into ones; the two-input
// ones leave the outputs kComplemented names complemented (the round keys make up for them).
TEST(DesCircuits, Sboxes_MatchTheStandardsTablesOnEveryInput)
{
    std::array<std::uint64_t, 6> inputs{};
    for (unsigned i = 0; i < 6; ++i) {
        for (unsigned n = 0; n < 64; ++n)
            inputs[i] |= std::uint64_t{(n >> i) & 1U} << n;
    }
    for (unsigned nBox = 0; nBox < 8; ++nBox) {
        std::array<std::uint64_t, 4> expected{};
        for (unsigned n = 0; n < 64; ++n) {
            const unsigned nRow = (n & 1U) * 2 + ((n >> 5) & 1U);
            const unsigned nColumn =
                ((n >> 1) & 1U) * 8 + ((n >> 2) & 1U) * 4 + ((n >> 3) & 1U) * 2 + ((n >> 4) & 1U);
            const unsigned nValue = kSboxTables[nBox][nRow][nColumn];
            for (unsigned k = 0; k < 4; ++k)
                expected[k] |= std::uint64_t{(nValue >> (3 - k)) & 1U} << n;
        }
        for (const std::uint64_t nLeft : {std::uint64_t{0}, ~std::uint64_t{0}}) {
            SCOPED_TRACE(testing::Message()
                         << "S" << nBox + 1 << (nLeft == 0 ? " into zeros" : " into ones"));
            std::array<std::uint64_t, 4> binary = {nLeft, nLeft, nLeft, nLeft};
            EvaluateSbox<SBinarySboxes>(nBox, inputs, binary);
            std::array<std::uint64_t, 4> ternary = {nLeft, nLeft, nLeft, nLeft};
            EvaluateSbox<STernarySboxes>(nBox, inputs, ternary);
            for (unsigned k = 0; k < 4; ++k) {
                const std::uint64_t nComplement =
                    0 - std::uint64_t{(SBinarySboxes::kComplemented >> (4 * nBox + k)) & 1U};
                EXPECT_EQ(binary[k], expected[k] ^ nLeft ^ nComplement) << "two-input circuit, output " << k;
                EXPECT_EQ(ternary[k], expected[k] ^ nLeft) << "three-input circuit, output " << k;
            }
        }
    }
}

// Triple-DES ECB decryption by OpenSSL's EVP interface directly: the oracle.
std::string EvpDecrypt(const std::string& strKey, const std::string& strCipher)
{
    EVP_CIPHER* pCipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-ECB", nullptr);
    EVP_CIPHER_CTX* pCtx = EVP_CIPHER_CTX_new();
    std::string strPlain(strCipher.size(), '\0');
    int nOut = 0;
    const bool bOk = pCipher != nullptr && pCtx != nullptr &&
                     EVP_DecryptInit_ex2(pCtx, pCipher, reinterpret_cast<const unsigned char*>(strKey.data()),
                                         nullptr, nullptr) == 1 &&
                     EVP_CIPHER_CTX_set_padding(pCtx, 0) == 1 &&
                     (strCipher.empty() ||
                      EVP_DecryptUpdate(pCtx, reinterpret_cast<unsigned char*>(strPlain.data()), &nOut,
                                        reinterpret_cast<const unsigned char*>(strCipher.data()),
                                        static_cast<int>(strCipher.size())) == 1);
    EVP_CIPHER_CTX_free(pCtx);
    EVP_CIPHER_free(pCipher);
    EXPECT_TRUE(bOk);
    return strPlain;
}

std::size_t BatchBlocks(EDesKernel kernel)
{
    return kernel == EDesKernel::Avx512 || kernel == EDesKernel::Avx512Gfni ? 512
           : kernel == EDesKernel::Avx2                                     ? 256
                                                                            : 64;
}

class DesKernelTest : public ::testing::TestWithParam<EDesKernel>
{
protected:
    void SetUp() override
    {
        if (!DesKernelSupported(GetParam()))
            GTEST_SKIP() << "this CPU lacks " << DesKernelName(GetParam());
    }
};

// Random data under every kind of key, at lengths around the kernel's batch width (a partial batch at the
// end), in place, into another buffer and between buffers at odd addresses, against EVP.
TEST_P(DesKernelTest, Decrypt_EqualsEvpForEveryKindOfKeyAndLength)
{
    const std::size_t nWidth = BatchBlocks(GetParam()) * kBlockSize;
    const std::string k1 = RandomBytes(8, 1), k2 = RandomBytes(8, 2), k3 = RandomBytes(8, 3);
    const std::string strWeak = test::FromHex("0101010101010101");
    struct SKeyCase
    {
        std::string strKey;
        const char* pszWhat;
    };
    const std::vector<SKeyCase> keys = {
        {k1 + k2 + k3, "three random keys, parity unchecked"},
        {k1 + k2 + k2, "K2 = K3: one DES decryption under K1"},
        {k1 + k1 + k3, "K1 = K2: one DES decryption under K3"},
        {k1 + k1 + k1, "K1 = K2 = K3"},
        {k1 + k2 + k1, "K1 = K3 only: full Triple-DES"},
        {strWeak + strWeak + strWeak, "a weak key"},
        {std::string(8, '\0') + test::FromHex("fefefefefefefefe") + strWeak, "weak keys, distinct"},
        {"Passwort" + std::string(16, ' '), "a password of eight characters"},
        {"ein langes Kennwort 1234", "a password of 24 characters"},
    };
    std::vector<std::size_t> lengths = {
        0, 8, nWidth - 8, nWidth, nWidth + 8, 3 * nWidth - 8, 3 * nWidth + 16};
    std::mt19937 random(7);
    for (int i = 0; i < 4; ++i)
        lengths.push_back(std::uniform_int_distribution<std::size_t>(1, 5 * nWidth / 8)(random) * 8);
    const std::string strData = RandomBytes(lengths.back() > 5 * nWidth ? lengths.back() : 5 * nWidth, 9);
    for (const SKeyCase& key : keys) {
        CTripleDesKey tripleKey;
        std::memcpy(tripleKey.Bytes().data(), key.strKey.data(), kKeyLength);
        CTripleDesDecryptor cipher;
        ASSERT_TRUE(cipher.Init(tripleKey, GetParam()));
        CTripleDesDecryptor copy;
        ASSERT_TRUE(copy.InitFrom(cipher));
        for (const std::size_t nLength : lengths) {
            SCOPED_TRACE(std::string(key.pszWhat) + ", " + std::to_string(nLength) + " bytes");
            const std::string strCipher = strData.substr(0, nLength);
            const std::string strExpected = EvpDecrypt(key.strKey, strCipher);
            std::string strInPlace = strCipher;
            auto* pInPlace = reinterpret_cast<unsigned char*>(strInPlace.data());
            ASSERT_TRUE(cipher.Decrypt(pInPlace, pInPlace, nLength));
            EXPECT_TRUE(strInPlace == strExpected);
            std::string strOther(nLength, '\0');
            ASSERT_TRUE(copy.Decrypt(reinterpret_cast<const unsigned char*>(strCipher.data()),
                                     reinterpret_cast<unsigned char*>(strOther.data()), nLength));
            EXPECT_TRUE(strOther == strExpected);
            // Buffers at odd addresses, as a caller's chunk may lie: the kernels load and store unaligned.
            std::string strOddIn = "." + strCipher;
            std::string strOddOut(nLength + 3, '\0');
            ASSERT_TRUE(cipher.Decrypt(reinterpret_cast<const unsigned char*>(strOddIn.data()) + 1,
                                       reinterpret_cast<unsigned char*>(strOddOut.data()) + 3, nLength));
            EXPECT_TRUE(strOddOut.substr(3) == strExpected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DesKernelTest,
                         ::testing::Values(EDesKernel::U64, EDesKernel::Avx2, EDesKernel::Avx512,
                                           EDesKernel::Avx512Gfni),
                         [](const ::testing::TestParamInfo<EDesKernel>& info) {
                             return std::string(DesKernelName(info.param));
                         });

bool AllKernels(EDesKernel /*kernel*/)
{
    return true;
}

bool NoAvx512(EDesKernel kernel)
{
    return kernel != EDesKernel::Avx512 && kernel != EDesKernel::Avx512Gfni;
}

bool NoGfni(EDesKernel kernel)
{
    return kernel != EDesKernel::Avx512Gfni;
}

bool OnlyPortable(EDesKernel kernel)
{
    return kernel == EDesKernel::Evp || kernel == EDesKernel::U64;
}

const char* CpuName(bool (*supported)(EDesKernel))
{
    if (supported == AllKernels)
        return "a CPU with every kernel";
    if (supported == NoGfni)
        return "a CPU with AVX-512 but not GFNI";
    return supported == NoAvx512 ? "a CPU without AVX-512" : "a CPU with the portable kernels only";
}

// What BRASKO_DES_KERNEL and the CPU decide, and the fallback to EVP when the known-answer check fails.
TEST(DesKernelChoice, FollowsRequestCpuAndSelfTest)
{
    struct SCase
    {
        const char* pRequested;
        bool (*supported)(EDesKernel);
        bool bSpoil;
        EDesKernel expected;
        bool bRefused;
        bool bSelfTestFailed;
    };
    for (const SCase& c : {
             SCase{nullptr, AllKernels, false, EDesKernel::Avx512Gfni, false, false},
             SCase{nullptr, NoGfni, false, EDesKernel::Avx512, false, false},
             SCase{"avx512", AllKernels, false, EDesKernel::Avx512, false, false},
             SCase{"avx512gfni", NoGfni, false, EDesKernel::Avx512, true, false},
             SCase{nullptr, NoAvx512, false, EDesKernel::Avx2, false, false},
             SCase{nullptr, OnlyPortable, false, EDesKernel::U64, false, false},
             SCase{"", NoAvx512, false, EDesKernel::Avx2, false, false},
             SCase{"evp", AllKernels, false, EDesKernel::Evp, false, false},
             SCase{"u64", AllKernels, false, EDesKernel::U64, false, false},
             SCase{"avx2", NoAvx512, false, EDesKernel::Avx2, false, false},
             SCase{"avx512", NoAvx512, false, EDesKernel::Avx2, true, false},
             SCase{"avx2", OnlyPortable, false, EDesKernel::U64, true, false},
             SCase{"AVX2", NoAvx512, false, EDesKernel::Avx2, true, false},
             SCase{"sse", AllKernels, false, EDesKernel::Avx512Gfni, true, false},
             SCase{nullptr, OnlyPortable, true, EDesKernel::Evp, false, true},
             SCase{"u64", AllKernels, true, EDesKernel::Evp, false, true},
             SCase{"evp", AllKernels, true, EDesKernel::Evp, false, false},
         }) {
        const std::string strRow = std::string(c.pRequested == nullptr ? "(unset)" : c.pRequested) +
                                   " with " + CpuName(c.supported) + (c.bSpoil ? ", spoilt self-test" : "");
        // A case that claims a kernel this CPU lacks would run it in the self-test: left out, and said so.
        bool bRunnable = true;
        for (const EDesKernel kernel : kAllDesKernels)
            bRunnable = bRunnable && (!c.supported(kernel) || DesKernelSupported(kernel));
        if (!bRunnable) {
            std::cout << "left out, this CPU cannot run every kernel the row claims: " << strRow << std::endl;
            continue;
        }
        SCOPED_TRACE(strRow);
        const SDesKernelChoice choice = ChooseDesKernel(c.pRequested, c.supported, c.bSpoil);
        EXPECT_EQ(choice.kernel, c.expected);
        EXPECT_EQ(choice.bRefused, c.bRefused);
        EXPECT_EQ(choice.bSelfTestFailed, c.bSelfTestFailed);
        if (c.bSelfTestFailed) {
            EXPECT_NE(choice.failedKernel, EDesKernel::Evp);
        }
    }
}

} // namespace
} // namespace brasko
