#pragma once

#include "OpenSslPtr.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace brasko {

inline constexpr std::size_t kKeyLength = 24;
inline constexpr std::size_t kBlockSize = 8;
inline constexpr std::size_t kMaxPasswordChars = 24;

// The 24 key bytes K1 K2 K3. Wiped when it goes out of scope.
class CTripleDesKey
{
public:
    CTripleDesKey();
    ~CTripleDesKey();
    CTripleDesKey(const CTripleDesKey& other);
    CTripleDesKey& operator=(const CTripleDesKey& other);
    // No move operations: a move copies, and both copies are wiped.

    std::array<unsigned char, kKeyLength>& Bytes() { return m_key; }
    const std::array<unsigned char, kKeyLength>& Bytes() const { return m_key; }

private:
    std::array<unsigned char, kKeyLength> m_key{};
};

// The key for a password given as UTF-8: blanks, overlaid by one byte per character (code point) of the
// first 24 characters. A character below 0x80 gives its own byte; any other character, and every byte that
// is not part of a valid UTF-8 sequence, gives "?". This matches the old tool, which saw the password in a
// single-byte code page and mapped every byte from 0x80 up to "?".
CTripleDesKey DeriveKey(const std::string& strPassword);

// The implementations of the cipher: OpenSSL's EVP (the reference), or our bitsliced kernel on 64-bit
// words, on AVX2 or on AVX-512 registers. All give the same bytes.
enum class EDesKernel
{
    Evp,
    U64,
    Avx2,
    Avx512
};
inline constexpr std::array<EDesKernel, 4> kAllDesKernels = {EDesKernel::Evp, EDesKernel::U64,
                                                             EDesKernel::Avx2, EDesKernel::Avx512};

// "evp", "u64", "avx2", "avx512": the names BRASKO_DES_KERNEL takes.
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

class CBitslicedKey;

// Triple-DES (EDE, three keys) ECB decryption without padding, over whole 8-byte blocks.
// One object per thread; the key schedules are wiped when it is destroyed.
class CTripleDesDecryptor
{
public:
    // With the kernel of DesKernelChoice(). False when the cipher cannot be set up (no usable OpenSSL
    // provider, or no memory).
    bool Init(const CTripleDesKey& key);
    // With the given kernel; false also when the CPU lacks it.
    bool Init(const CTripleDesKey& key, EDesKernel kernel);
    // Takes the key schedules of another decryptor, so that one more thread can decrypt under the same key
    // without the key bytes. False when the other has none or the copy fails.
    bool InitFrom(const CTripleDesDecryptor& other);
    // Decrypts nLength bytes, a multiple of 8; pIn may equal pOut.
    bool Decrypt(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength);

    EDesKernel Kernel() const { return m_kernel; }

private:
    EDesKernel m_kernel = EDesKernel::Evp;
    CipherCtxPtr m_pCtx;                         // the EVP kernel's
    std::shared_ptr<const CBitslicedKey> m_pKey; // the bitsliced kernels' round keys, read-only, shared
};

} // namespace brasko
