#include "DesKernelChoice.h"

#include "TripleDes.h"

#include <cstdlib>
#include <cstring>

namespace brasko {

namespace {

bool SupportedByCpu(EDesKernel kernel)
{
    switch (kernel) {
    case EDesKernel::Evp:
    case EDesKernel::U64:
        return true;
#ifdef __wasm_simd128__
    // A browser without SIMD128 refuses the whole module, so a module that runs has it.
    case EDesKernel::Simd128:
        return true;
#endif
    case EDesKernel::Avx2:
    case EDesKernel::Avx512:
    case EDesKernel::Avx512Gfni:
        break;
    }
#if defined(__x86_64__) || defined(__i386__)
    // Harmless when done already; needed should this first run before the library's own constructors.
    __builtin_cpu_init();
    if (kernel == EDesKernel::Avx2)
        return __builtin_cpu_supports("avx2") != 0;
    if (kernel == EDesKernel::Avx512)
        return __builtin_cpu_supports("avx512f") != 0;
    return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
           __builtin_cpu_supports("avx512vbmi") != 0 && __builtin_cpu_supports("gfni") != 0;
#else
    return false;
#endif
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
        // Published vectors, no secret: kept out of locked pages, which would cost each run system calls.
        CTripleDesKey key(EMemoryLock::None);
        std::memcpy(key.Bytes().data(), answer.pKey, kKeyLength);
        std::array<unsigned char, 24> data{};
        std::memcpy(data.data(), answer.pCipher, answer.nLength);
        if (bSpoil)
            data[0] ^= 1;
        CTripleDesDecryptor cipher;
        if (!cipher.Init(key, kernel, EMemoryLock::None) ||
            !cipher.Decrypt(data.data(), data.data(), answer.nLength) ||
            std::memcmp(data.data(), answer.pPlain, answer.nLength) != 0)
            return false;
    }
    return true;
}

} // namespace

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
    case EDesKernel::Avx512Gfni:
        return "avx512gfni";
#ifdef __wasm_simd128__
    case EDesKernel::Simd128:
        return "simd128";
#endif
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
#ifdef __wasm_simd128__
    for (const EDesKernel kernel :
         {EDesKernel::Avx2, EDesKernel::Avx512, EDesKernel::Avx512Gfni, EDesKernel::Simd128}) {
#else
    for (const EDesKernel kernel : {EDesKernel::Avx2, EDesKernel::Avx512, EDesKernel::Avx512Gfni}) {
#endif
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

} // namespace brasko
