#pragma once

#include "SecureBuffer.h"

#include <cstddef>
#include <span>
#include <string>

namespace brasko {

// How much of a plaintext is judged, and the least that is judged at all.
inline constexpr std::size_t kPlausibilitySampleSize = std::size_t{64} << 10;
inline constexpr std::size_t kPlausibilityMinimumSize = 64;
// The start that is judged first: content that is plainly not random is told by it alone, and only a start
// that looks random has the whole sample judged.
inline constexpr std::size_t kPlausibilityFirstSampleSize = std::size_t{4} << 10;

enum class EPlausibility
{
    NotChecked,  // nobody asked
    Plausible,   // the content looks like a real file; strDescription names its kind
    LooksRandom, // the content cannot be told from random bytes: most likely a wrong password
    TooShort,    // fewer than kPlausibilityMinimumSize bytes: no verdict
};

// What a judgement has to tell: the verdict alone, or also the kind of a plausible content.
enum class EPlausibilityDetail
{
    Verdict,     // a plausible content may be left without a description
    Description, // a plausible content is always described
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
// The test runs on the first kPlausibilityFirstSampleSize bytes first, and on the whole sample only when
// those look random.
SPlausibility JudgePlaintext(std::span<const unsigned char> sample,
                             EPlausibilityDetail detail = EPlausibilityDetail::Description);

// Whether the first kPlausibilityFirstSampleSize bytes of a plaintext (all of a shorter one) are told from
// random bytes by themselves; JudgePlaintext then finds the plaintext Plausible whatever follows.
bool PlainlyNotRandom(std::span<const unsigned char> sample);

// The first kPlausibilitySampleSize bytes of a plaintext, collected in order as it is written, in a secure
// buffer: wiped when it goes out of scope. When the first piece holds the whole sample it is judged where it
// lies, without a copy.
class CPlaintextSample
{
public:
    explicit CPlaintextSample(EPlausibilityDetail detail = EPlausibilityDetail::Description)
        : m_detail(detail)
    {}
    ~CPlaintextSample() = default;
    CPlaintextSample(const CPlaintextSample&) = delete;
    CPlaintextSample& operator=(const CPlaintextSample&) = delete;
    CPlaintextSample(CPlaintextSample&&) = delete;
    CPlaintextSample& operator=(CPlaintextSample&&) = delete;

    // Keeps what still fits of the next nSize bytes of the plaintext.
    void Append(const unsigned char* pData, std::size_t nSize);
    // The judgement of the plaintext appended (JudgePlaintext).
    SPlausibility Judge() const;

private:
    EPlausibilityDetail m_detail;
    CSecureBuffer m_bytes;
    bool m_bJudged = false;
    SPlausibility m_judgement; // once m_bJudged
};

} // namespace brasko
