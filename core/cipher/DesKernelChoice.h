#pragma once

#include <array>
#include <string>

namespace brasko {

// The implementations of the cipher: OpenSSL's EVP (the reference), or our bitsliced kernel on 64-bit
// words, on AVX2 or on AVX-512 registers (with GFNI and byte permutes for the transposition where the CPU
// has them), or (in the web page's build with -msimd128) on WebAssembly SIMD128
// registers. All give the same bytes.
enum class EDesKernel
{
    Evp,
    U64,
    Avx2,
    Avx512,
    Avx512Gfni,
#ifdef __wasm_simd128__
    Simd128,
#endif
};
#ifdef __wasm_simd128__
inline constexpr std::array<EDesKernel, 6> kAllDesKernels = {EDesKernel::Evp,        EDesKernel::U64,
                                                             EDesKernel::Avx2,       EDesKernel::Avx512,
                                                             EDesKernel::Avx512Gfni, EDesKernel::Simd128};
#else
inline constexpr std::array<EDesKernel, 5> kAllDesKernels = {
    EDesKernel::Evp, EDesKernel::U64, EDesKernel::Avx2, EDesKernel::Avx512, EDesKernel::Avx512Gfni};
#endif

// "evp", "u64", "avx2", "avx512", "avx512gfni", "simd128": the names BRASKO_DES_KERNEL takes.
const char* DesKernelName(EDesKernel kernel);
// Whether this CPU (and its operating system) can run the kernel.
bool DesKernelSupported(EDesKernel kernel);

// Which kernel a process uses, and why.
struct SDesKernelChoice
{
    EDesKernel kernel = EDesKernel::Evp;       // what CTripleDesDecryptor::Init uses
    std::string strRequested;                  // the value of BRASKO_DES_KERNEL; empty when it is not set
    bool bRefused = false;                     // the requested kernel is unknown or the CPU lacks it
    bool bSelfTestFailed = false;              // the kernel failed its known-answer check; EVP stands in
    EDesKernel failedKernel = EDesKernel::Evp; // the kernel that failed it
};

// Decided once per process, on first use: the kernel BRASKO_DES_KERNEL names, else the widest the CPU
// runs (a refused request also gets the widest); then that kernel decrypts a known-answer vector and EVP
// takes over if the result is wrong. BRASKO_DES_SELFTEST=fail spoils the check, to try the fallback.
const SDesKernelChoice& DesKernelChoice();
// The same decision for given inputs, not cached: pRequested as BRASKO_DES_KERNEL (nullptr: not set),
// supported as DesKernelSupported, bSpoilSelfTest as BRASKO_DES_SELFTEST=fail.
SDesKernelChoice ChooseDesKernel(const char* pRequested, bool (*supported)(EDesKernel), bool bSpoilSelfTest);

} // namespace brasko
