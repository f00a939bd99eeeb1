#pragma once

#include "SecureBuffer.h"

#include <cstddef>
#include <span>
#include <string>

namespace brasko {

// How much of a plaintext is judged, and the least that is judged at all.
inline constexpr std::size_t kPlausibilitySampleSize = std::size_t{64} << 10;
inline constexpr std::size_t kPlausibilityMinimumSize = 64;

enum class EPlausibility
{
    NotChecked,  // nobody asked
    Plausible,   // the content looks like a real file; strDescription names its kind
    LooksRandom, // the content cannot be told from random bytes: most likely a wrong password
    TooShort,    // fewer than kPlausibilityMinimumSize bytes: no verdict
};

struct SPlausibility
{
    EPlausibility verdict = EPlausibility::NotChecked;
    std::string strDescription; // German, for the user: the kind of content, or what the verdict means
};

// Judges the first bytes of a decrypted file (kPlausibilitySampleSize of them, or the whole file when it is
// shorter). A wrong key turns every distinct 8-byte block into uniformly random bytes, while real files are
// far from random or begin with a strong signature. So: a statistical test of the distinct blocks decides
// first; only bytes that look random are shown to libmagic (loaded then, once per process), and only a
// strong signature of a format that is random-looking by nature (compressed, media, archives) saves them.
SPlausibility JudgePlaintext(std::span<const unsigned char> sample);

// The first kPlausibilitySampleSize bytes of a plaintext, collected in order as it is written, in a secure
// buffer: wiped when it goes out of scope.
class CPlaintextSample
{
public:
    CPlaintextSample() = default;
    ~CPlaintextSample() = default;
    CPlaintextSample(const CPlaintextSample&) = delete;
    CPlaintextSample& operator=(const CPlaintextSample&) = delete;
    CPlaintextSample(CPlaintextSample&&) = delete;
    CPlaintextSample& operator=(CPlaintextSample&&) = delete;

    // Keeps what still fits of the next nSize bytes of the plaintext.
    void Append(const unsigned char* pData, std::size_t nSize);
    std::span<const unsigned char> Bytes() const { return m_bytes.Bytes(); }

private:
    CSecureBuffer m_bytes;
};

} // namespace brasko
