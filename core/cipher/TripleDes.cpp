#include "TripleDes.h"

#include "DesKernel.h"
#include "Utf8.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace brasko {

// The round keys of the bitsliced kernels, in pages of their own: locked into memory where the system
// allows it (a refusal is no failure), left out of core dumps, wiped before they are given back.
class CBitslicedKey
{
public:
    static std::shared_ptr<const CBitslicedKey> Create(const CTripleDesKey& key, EDesKernel kernel);
    ~CBitslicedKey();
    CBitslicedKey(const CBitslicedKey&) = delete;
    CBitslicedKey& operator=(const CBitslicedKey&) = delete;
    CBitslicedKey(CBitslicedKey&&) = delete;
    CBitslicedKey& operator=(CBitslicedKey&&) = delete;

    void Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nBlocks) const;

private:
    CBitslicedKey(des::SRoundKeys* pKeys, bool bLocked, EDesKernel kernel)
        : m_pKeys(pKeys), m_bLocked(bLocked), m_kernel(kernel)
    {}

    des::SRoundKeys* m_pKeys;
    bool m_bLocked;
    EDesKernel m_kernel;
};

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

// The 16 round keys of one 8-byte DES key, as masks, in encryption order (or reversed, for decryption),
// written to pOut[0..15]. Every index here is fixed; the key only flows through shifts and masks.
void ScheduleDes(const unsigned char* pKey, bool bDecrypt, std::uint64_t (*pOut)[des::kRoundKeyBits])
{
    const auto keyBit = [pKey](unsigned n) -> std::uint64_t { // n 1-based
        return (pKey[(n - 1) / 8] >> (7 - (n - 1) % 8)) & 1U;
    };
    unsigned nShift = 0;
    for (unsigned nRound = 0; nRound < 16; ++nRound) {
        nShift += kRotations[nRound];
        std::uint64_t* pMasks = pOut[bDecrypt ? 15 - nRound : nRound];
        for (unsigned j = 0; j < des::kRoundKeyBits; ++j) {
            const unsigned p = kPc2[j] - 1U; // 0..55 in C (0..27) and D (28..55)
            const unsigned nHalf = p / 28 * 28;
            const unsigned nSource = nHalf + (p - nHalf + nShift) % 28;
            pMasks[j] = 0 - keyBit(kPc1[nSource]);
        }
    }
}

// D_K1(E_K2(D_K3(c))) collapses to one DES decryption when K2 = K3 (under K1) or K1 = K2
// (under K3). The comparisons do not stop at the first difference.
void ScheduleTripleDes(const CTripleDesKey& key, des::SRoundKeys& keys)
{
    const unsigned char* pK1 = key.Bytes().data();
    const unsigned char* pK2 = pK1 + 8;
    const unsigned char* pK3 = pK1 + 16;
    if (CRYPTO_memcmp(pK2, pK3, 8) == 0) {
        ScheduleDes(pK1, true, keys.masks);
        keys.nDesOperations = 1;
    } else if (CRYPTO_memcmp(pK1, pK2, 8) == 0) {
        ScheduleDes(pK3, true, keys.masks);
        keys.nDesOperations = 1;
    } else {
        ScheduleDes(pK3, true, keys.masks);
        ScheduleDes(pK2, false, keys.masks + 16);
        ScheduleDes(pK1, true, keys.masks + 32);
        keys.nDesOperations = 3;
    }
}

// Fetched once and shared by every context; EVP_CIPHER objects are safe to share between threads.
EVP_CIPHER* FetchTripleDesEcb()
{
    // The cipher comes from the built-in default provider. The system-wide OpenSSL configuration (TLS
    // policies, engines, other providers) has nothing for it, and reading it would cost a small file more
    // time than its decryption, so it is not loaded.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    return EVP_CIPHER_fetch(nullptr, "DES-EDE3-ECB", nullptr);
}

const EVP_CIPHER* TripleDesEcb()
{
    static const CipherPtr pCipher(FetchTripleDesEcb());
    return pCipher.get();
}

} // namespace

CTripleDesKey::CTripleDesKey() = default;

CTripleDesKey::~CTripleDesKey()
{
    OPENSSL_cleanse(m_key.data(), m_key.size());
}

CTripleDesKey::CTripleDesKey(const CTripleDesKey& other) = default;

CTripleDesKey& CTripleDesKey::operator=(const CTripleDesKey& other) = default;

CTripleDesKey DeriveKey(const std::string& strPassword)
{
    CTripleDesKey key;
    key.Bytes().fill(' ');
    const std::string_view password(strPassword);
    std::size_t nPos = 0;
    for (std::size_t i = 0; i < kKeyLength && nPos < password.size(); ++i) {
        const std::size_t nLength = utf8::CharacterLength(password, nPos);
        const auto byte = static_cast<unsigned char>(password[nPos]);
        key.Bytes()[i] = (nLength == 1 && byte < 0x80) ? byte : static_cast<unsigned char>('?');
        nPos += nLength;
    }
    return key;
}

namespace {

std::size_t BatchBlocks(EDesKernel kernel)
{
    switch (kernel) {
    case EDesKernel::U64:
        return des::kU64Blocks;
    case EDesKernel::Avx2:
        return des::kAvx2Blocks;
    case EDesKernel::Avx512:
        return des::kAvx512Blocks;
    case EDesKernel::Evp:
        break;
    }
    return 0;
}

void RunKernel(EDesKernel kernel, const des::SRoundKeys& keys, const unsigned char* pIn, unsigned char* pOut,
               std::size_t nBatches)
{
    switch (kernel) {
    case EDesKernel::U64:
        des::DecryptBatchesU64(keys, pIn, pOut, nBatches);
        break;
    case EDesKernel::Avx2:
        des::DecryptBatchesAvx2(keys, pIn, pOut, nBatches);
        break;
    case EDesKernel::Avx512:
        des::DecryptBatchesAvx512(keys, pIn, pOut, nBatches);
        break;
    case EDesKernel::Evp:
        break;
    }
}

bool SupportedByCpu(EDesKernel kernel)
{
    // Harmless when done already; needed should this first run before the library's own constructors.
    __builtin_cpu_init();
    switch (kernel) {
    case EDesKernel::Evp:
    case EDesKernel::U64:
        return true;
    case EDesKernel::Avx2:
        return __builtin_cpu_supports("avx2") != 0;
    case EDesKernel::Avx512:
        return __builtin_cpu_supports("avx512f") != 0;
    }
    return false;
}

// Known answers: three distinct keys (NIST SP 800-67 Rev. 1, Appendix B, with its "qufck"), and Grabbe's
// single-DES example as K1 = K2 = K3, which takes the one-operation path.
struct SKnownAnswer
{
    const char* pKey;
    const char* pCipher;
    const char* pPlain;
    std::size_t nLength;
};
constexpr SKnownAnswer kKnownAnswers[] = {
    {"\x01\x23\x45\x67\x89\xab\xcd\xef\x23\x45\x67\x89\xab\xcd\xef\x01\x45\x67\x89\xab\xcd\xef\x01\x23",
     "\xa8\x26\xfd\x8c\xe5\x3b\x85\x5f\xcc\xe2\x1c\x81\x12\x25\x6f\xe6\x68\xd5\xc0\x5d\xd9\xb6\xb9\x00",
     "The qufck brown fox jump", 24},
    {"\x13\x34\x57\x79\x9b\xbc\xdf\xf1\x13\x34\x57\x79\x9b\xbc\xdf\xf1\x13\x34\x57\x79\x9b\xbc\xdf\xf1",
     "\x85\xe8\x13\x54\x0f\x0a\xb4\x05", "\x01\x23\x45\x67\x89\xab\xcd\xef", 8},
};

bool SelfTest(EDesKernel kernel, bool bSpoil)
{
    for (const SKnownAnswer& answer : kKnownAnswers) {
        CTripleDesKey key;
        std::memcpy(key.Bytes().data(), answer.pKey, kKeyLength);
        std::array<unsigned char, 24> data{};
        std::memcpy(data.data(), answer.pCipher, answer.nLength);
        if (bSpoil)
            data[0] ^= 1;
        CTripleDesDecryptor cipher;
        if (!cipher.Init(key, kernel) || !cipher.Decrypt(data.data(), data.data(), answer.nLength) ||
            std::memcmp(data.data(), answer.pPlain, answer.nLength) != 0)
            return false;
    }
    return true;
}

} // namespace

std::shared_ptr<const CBitslicedKey> CBitslicedKey::Create(const CTripleDesKey& key, EDesKernel kernel)
{
    void* pMemory =
        ::mmap(nullptr, sizeof(des::SRoundKeys), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pMemory == MAP_FAILED)
        return nullptr;
    const bool bLocked = ::mlock(pMemory, sizeof(des::SRoundKeys)) == 0;
#ifdef MADV_DONTDUMP
    ::madvise(pMemory, sizeof(des::SRoundKeys), MADV_DONTDUMP);
#endif
    auto* pKeys = new (pMemory) des::SRoundKeys;
    ScheduleTripleDes(key, *pKeys);
    try {
        return std::shared_ptr<const CBitslicedKey>(new CBitslicedKey(pKeys, bLocked, kernel));
    } catch (const std::bad_alloc&) {
        OPENSSL_cleanse(pKeys, sizeof(des::SRoundKeys));
        ::munmap(pMemory, sizeof(des::SRoundKeys));
        return nullptr;
    }
}

CBitslicedKey::~CBitslicedKey()
{
    OPENSSL_cleanse(m_pKeys, sizeof(des::SRoundKeys));
    if (m_bLocked)
        ::munlock(m_pKeys, sizeof(des::SRoundKeys));
    ::munmap(m_pKeys, sizeof(des::SRoundKeys));
}

void CBitslicedKey::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nBlocks) const
{
    const std::size_t nWidth = BatchBlocks(m_kernel);
    const std::size_t nBatches = nBlocks / nWidth;
    if (nBatches > 0)
        RunKernel(m_kernel, *m_pKeys, pIn, pOut, nBatches);
    // A partial batch at the end goes through a whole one, the rest of it zeros.
    if (const std::size_t nRest = nBlocks % nWidth; nRest > 0) {
        const std::size_t nDone = nBatches * nWidth * kBlockSize;
        alignas(64) unsigned char batch[des::kAvx512Blocks * kBlockSize];
        std::memcpy(batch, pIn + nDone, nRest * kBlockSize);
        std::memset(batch + nRest * kBlockSize, 0, (nWidth - nRest) * kBlockSize);
        RunKernel(m_kernel, *m_pKeys, batch, batch, 1);
        std::memcpy(pOut + nDone, batch, nRest * kBlockSize);
        OPENSSL_cleanse(batch, nWidth * kBlockSize);
    }
}

const char* DesKernelName(EDesKernel kernel)
{
    switch (kernel) {
    case EDesKernel::Evp:
        return "evp";
    case EDesKernel::U64:
        return "u64";
    case EDesKernel::Avx2:
        return "avx2";
    case EDesKernel::Avx512:
        return "avx512";
    }
    return "";
}

bool DesKernelSupported(EDesKernel kernel)
{
    return SupportedByCpu(kernel);
}

SDesKernelChoice ChooseDesKernel(const char* pRequested, bool (*supported)(EDesKernel), bool bSpoilSelfTest)
{
    SDesKernelChoice choice;
    EDesKernel best = EDesKernel::U64;
    for (const EDesKernel kernel : {EDesKernel::Avx2, EDesKernel::Avx512}) {
        if (supported(kernel))
            best = kernel;
    }
    choice.kernel = best;
    if (pRequested != nullptr && *pRequested != '\0') {
        choice.strRequested = pRequested;
        choice.bRefused = true;
        for (const EDesKernel kernel : kAllDesKernels) {
            if (choice.strRequested == DesKernelName(kernel) && supported(kernel)) {
                choice.kernel = kernel;
                choice.bRefused = false;
            }
        }
    }
    if (choice.kernel != EDesKernel::Evp && !SelfTest(choice.kernel, bSpoilSelfTest)) {
        choice.bSelfTestFailed = true;
        choice.failedKernel = choice.kernel;
        choice.kernel = EDesKernel::Evp;
    }
    return choice;
}

const SDesKernelChoice& DesKernelChoice()
{
    static const SDesKernelChoice choice = [] {
        const char* pSpoil = std::getenv("BRASKO_DES_SELFTEST");
        return ChooseDesKernel(std::getenv("BRASKO_DES_KERNEL"), SupportedByCpu,
                               pSpoil != nullptr && std::strcmp(pSpoil, "fail") == 0);
    }();
    return choice;
}

bool CTripleDesDecryptor::Init(const CTripleDesKey& key)
{
    return Init(key, DesKernelChoice().kernel);
}

bool CTripleDesDecryptor::Init(const CTripleDesKey& key, EDesKernel kernel)
{
    m_pCtx.reset();
    m_pKey.reset();
    m_kernel = kernel;
    if (kernel != EDesKernel::Evp) {
        if (!SupportedByCpu(kernel))
            return false;
        m_pKey = CBitslicedKey::Create(key, kernel);
        return m_pKey != nullptr;
    }
    const EVP_CIPHER* pCipher = TripleDesEcb();
    if (pCipher == nullptr)
        return false;
    m_pCtx.reset(EVP_CIPHER_CTX_new());
    if (!m_pCtx)
        return false;
    // The key bytes are used as they stand: the provider checks neither parity nor weak keys.
    if (EVP_DecryptInit_ex2(m_pCtx.get(), pCipher, key.Bytes().data(), nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(m_pCtx.get(), 0) != 1) {
        m_pCtx.reset();
        return false;
    }
    return true;
}

bool CTripleDesDecryptor::InitFrom(const CTripleDesDecryptor& other)
{
    m_pCtx.reset();
    m_pKey.reset();
    m_kernel = other.m_kernel;
    if (other.m_pKey) {
        m_pKey = other.m_pKey;
        return true;
    }
    if (!other.m_pCtx)
        return false;
    m_pCtx.reset(EVP_CIPHER_CTX_new());
    if (!m_pCtx || EVP_CIPHER_CTX_copy(m_pCtx.get(), other.m_pCtx.get()) != 1) {
        m_pCtx.reset();
        return false;
    }
    return true;
}

bool CTripleDesDecryptor::Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength)
{
    if (nLength % kBlockSize != 0)
        return false;
    if (m_pKey) {
        m_pKey->Decrypt(pIn, pOut, nLength / kBlockSize);
        return true;
    }
    if (!m_pCtx)
        return false;
    while (nLength > 0) {
        const std::size_t nStep = nLength > INT_MAX / 2 ? INT_MAX / 2 / kBlockSize * kBlockSize : nLength;
        int nOut = 0;
        if (EVP_DecryptUpdate(m_pCtx.get(), pOut, &nOut, pIn, static_cast<int>(nStep)) != 1 ||
            static_cast<std::size_t>(nOut) != nStep)
            return false;
        pIn += nStep;
        pOut += nStep;
        nLength -= nStep;
    }
    return true;
}

} // namespace brasko
