#include "Plausibility.h"

#include "FileTypeLibrary.h"
#include "Signatures.h"
#include "VerdictTexts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace brasko {

namespace {

constexpr std::size_t kBlock = 8; // the cipher's block: a wrong key scrambles each one on its own

// The distinct 8-byte blocks of the sample in the order they first appear, then its short tail. ECB maps
// equal plaintext blocks to equal ciphertext blocks and a wrong key maps those to equal garbage: a file full
// of zeros decrypts under a wrong key to one random block repeated, whose bytes are anything but uniformly
// spread. Its distinct blocks are. pSlots has room for nSlots values (a power of two, at least twice the
// blocks) and pUsed as many flags, all 0.
void CollectDistinctBlocks(std::span<const unsigned char> sample, CSecureBuffer& distinct,
                           std::uint64_t* pSlots, unsigned char* pUsed, std::size_t nSlots)
{
    const std::size_t nBlocks = sample.size() / kBlock;
    for (std::size_t i = 0; i < nBlocks; ++i) {
        std::uint64_t nValue = 0;
        std::memcpy(&nValue, sample.data() + i * kBlock, kBlock);
        std::size_t nSlot = static_cast<std::size_t>((nValue * 0x9E3779B97F4A7C15ULL) >> 32) & (nSlots - 1);
        while (pUsed[nSlot] != 0 && pSlots[nSlot] != nValue)
            nSlot = (nSlot + 1) & (nSlots - 1);
        if (pUsed[nSlot] == 0) {
            pUsed[nSlot] = 1;
            pSlots[nSlot] = nValue;
            distinct.Append(sample.data() + i * kBlock, kBlock);
        }
    }
    SecureWipe(pSlots, nSlots * sizeof(std::uint64_t));
    distinct.Append(sample.data() + nBlocks * kBlock, sample.size() - nBlocks * kBlock);
}

// Pearson's chi-square statistic of byte counts against 256 equally likely values. For uniformly random
// bytes its mean is 255 and its standard deviation about 22.6 whatever the number of bytes (for few bytes
// it is a count of equal pairs, and its tail is longer, but not by much).
double ChiSquare(const std::array<std::uint32_t, 256>& counts, std::size_t nTotal)
{
    double dSumOfSquares = 0;
    for (const std::uint32_t nCount : counts)
        dSumOfSquares += static_cast<double>(nCount) * nCount;
    return 256.0 * dSumOfSquares / static_cast<double>(nTotal) - static_cast<double>(nTotal);
}

// Five standard deviations above the mean: random bytes exceed it about once in 10^5 samples (per test),
// while text, tables, executables and uncompressed media exceed it by far, even in 64 bytes.
const double kRandomChiSquareLimit = 255.0 + 5.0 * std::sqrt(2.0 * 255.0);

// Whether the bytes cannot be told from uniformly random ones: neither the bytes themselves nor the
// differences of neighbours (which catch smooth data such as samples or gradients) are unevenly spread.
bool LooksUniform(std::span<const unsigned char> bytes)
{
    if (bytes.size() < 2)
        return false;
    std::array<std::uint32_t, 256> values{};
    std::array<std::uint32_t, 256> steps{};
    ++values[bytes[0]];
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        ++values[bytes[i]];
        ++steps[static_cast<unsigned char>(bytes[i] - bytes[i - 1])];
    }
    return ChiSquare(values, bytes.size()) <= kRandomChiSquareLimit &&
           ChiSquare(steps, bytes.size() - 1) <= kRandomChiSquareLimit;
}

// An OpenPGP packet header: the packet's tag, the bytes of its length field and the length of its body.
struct SPacketHeader
{
    unsigned nTag = 0;
    std::size_t nLengthBytes = 0;
    std::size_t nLength = 0;
};

enum class EPacketHeader
{
    Read,
    Invalid,    // no packet header at all
    Unreadable, // cut off by the end of the sample, or a length the chain cannot be followed past
};

// The new-format header (bit 6 set) at nPos.
EPacketHeader ReadNewPacketHeader(std::span<const unsigned char> bytes, std::size_t nPos,
                                  SPacketHeader& header)
{
    header.nTag = bytes[nPos] & 0x3F;
    if (nPos + 1 >= bytes.size())
        return EPacketHeader::Unreadable;
    const unsigned char c = bytes[nPos + 1];
    if (c < 192) {
        header.nLengthBytes = 1;
        header.nLength = c;
    } else if (c < 224) {
        if (nPos + 2 >= bytes.size())
            return EPacketHeader::Unreadable;
        header.nLengthBytes = 2;
        header.nLength = ((c - 192U) << 8) + bytes[nPos + 2] + 192;
    } else if (c == 255) {
        if (nPos + 5 >= bytes.size())
            return EPacketHeader::Unreadable;
        header.nLengthBytes = 5;
        header.nLength = (std::size_t{bytes[nPos + 2]} << 24) | (std::size_t{bytes[nPos + 3]} << 16) |
                         (std::size_t{bytes[nPos + 4]} << 8) | bytes[nPos + 5];
    } else {
        return EPacketHeader::Unreadable; // a partial length: the rest is one stream of data
    }
    return EPacketHeader::Read;
}

EPacketHeader ReadPacketHeader(std::span<const unsigned char> bytes, std::size_t nPos, SPacketHeader& header)
{
    const unsigned char cHeader = bytes[nPos];
    if ((cHeader & 0x80) == 0)
        return EPacketHeader::Invalid;
    if ((cHeader & 0x40) != 0)
        return ReadNewPacketHeader(bytes, nPos, header);
    header.nTag = (cHeader >> 2) & 0x0F;
    const unsigned nType = cHeader & 0x03;
    if (nType == 3)
        return EPacketHeader::Unreadable; // indeterminate length
    header.nLengthBytes = std::size_t{1} << nType;
    if (nPos + header.nLengthBytes >= bytes.size())
        return EPacketHeader::Unreadable;
    for (std::size_t i = 1; i <= header.nLengthBytes; ++i)
        header.nLength = (header.nLength << 8) | bytes[nPos + i];
    return EPacketHeader::Read;
}

// Whether the first packet, its body at nBody, is a public-key or session-key packet with a valid version:
// public key, secret key, encrypted session keys.
bool IsKeyPacketStart(std::span<const unsigned char> bytes, std::size_t nBody, unsigned nTag)
{
    if (nBody >= bytes.size())
        return false;
    const unsigned char cVersion = bytes[nBody];
    const bool bKey = (nTag == 5 || nTag == 6) && cVersion >= 3 && cVersion <= 5;
    const bool bSessionKey = (nTag == 1 && cVersion == 3) || (nTag == 3 && (cVersion == 4 || cVersion == 5));
    return bKey || bSessionKey;
}

// OpenPGP keys and messages are random-looking by nature and have no fixed signature, but a chain of packet
// headers: the first a key or session-key packet with a valid version, and two more packets of known kinds
// whose lengths fit. Random bytes form such a chain less than once in 10^5 samples.
bool IsOpenPgpChain(std::span<const unsigned char> bytes)
{
    std::size_t nPos = 0;
    int nHeaders = 0;
    while (nPos < bytes.size()) {
        SPacketHeader header;
        const EPacketHeader read = ReadPacketHeader(bytes, nPos, header);
        if (read == EPacketHeader::Invalid)
            return false;
        if (read == EPacketHeader::Unreadable)
            break;
        const bool bKnownTag =
            (header.nTag >= 1 && header.nTag <= 14) || (header.nTag >= 17 && header.nTag <= 21);
        if (!bKnownTag || header.nLength == 0)
            return false;
        const std::size_t nBody = nPos + 1 + header.nLengthBytes;
        if (nHeaders == 0 && !IsKeyPacketStart(bytes, nBody, header.nTag))
            return false;
        ++nHeaders;
        nPos = nBody + header.nLength;
    }
    return nHeaders >= 3;
}

constexpr bool IsTextByte(unsigned char c)
{
    return c >= 0x20 ? c != 0x7F
                     : (c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0x1B);
}

// Per byte value: 1 when it is no text byte, 2 when it is beyond ASCII.
constexpr std::array<unsigned char, 256> kByteClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (unsigned c = 0; c < 256; ++c)
        classes[c] = static_cast<unsigned char>((IsTextByte(static_cast<unsigned char>(c)) ? 0 : 1) |
                                                (c >= 0x80 ? 2 : 0));
    return classes;
}();

// Whether every byte is a text byte, and whether every byte is ASCII, in one pass.
struct STextBytes
{
    bool bText = true;
    bool bAscii = true;
};

STextBytes ClassifyBytes(std::span<const unsigned char> bytes)
{
    unsigned nSeen = 0;
    std::size_t i = 0;
    // A block at a time, so that a binary file stops early.
    while (i < bytes.size() && (nSeen & 1U) == 0) {
        const std::size_t nEnd = std::min(bytes.size(), i + 256);
        for (; i < nEnd; ++i)
            nSeen |= kByteClasses[bytes[i]];
    }
    return STextBytes{(nSeen & 1U) == 0, (nSeen & 2U) == 0};
}

// Whether the bytes are well-formed UTF-8; a sequence cut off by the end of the sample counts as whole.
bool IsUtf8(std::span<const unsigned char> bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = bytes[i];
        std::size_t nFollow = 0;
        if (c < 0x80)
            nFollow = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            nFollow = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            nFollow = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            nFollow = 3;
        else
            return false;
        for (std::size_t k = 1; k <= nFollow; ++k) {
            if (i + k >= bytes.size())
                return true;
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += nFollow + 1;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// Markup that text begins with, or null.
const char* MarkupKind(std::span<const unsigned char> bytes)
{
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    text.remove_prefix(std::min(text.size(), text.find_first_not_of(" \t\r\n")));
    const std::string_view head = text.substr(0, 1024);
    if (StartsWithNoCase(text, "<?xml"))
        return head.find("<svg") != std::string_view::npos ? messages::kSvgGraphic : messages::kXmlDocument;
    if (text.starts_with("<svg"))
        return messages::kSvgGraphic;
    if (StartsWithNoCase(text, "<!doctype html") || StartsWithNoCase(text, "<html"))
        return messages::kHtmlDocument;
    if (text.size() > 1 && (text[0] == '{' || text[0] == '[') &&
        std::string_view(" \t\r\n\"{[]}0123456789-").find(text[1]) != std::string_view::npos)
        return messages::kJsonData;
    return nullptr;
}

// What a sample that does not look random holds, as far as cheap tests tell.
std::string DescribePlausible(std::span<const unsigned char> sample)
{
    if (const SSignature* pSignature = FindSignature(sample))
        return pSignature->pszDescription;
    if (HasAt(sample, 0, "\xFF\xFE") || HasAt(sample, 0, "\xFE\xFF"))
        return messages::kTextUtf16;
    if (const STextBytes text = ClassifyBytes(sample); text.bText) {
        if (const char* pszMarkup = MarkupKind(sample))
            return pszMarkup;
        if (text.bAscii)
            return messages::kTextAscii;
        return IsUtf8(sample) ? messages::kTextUtf8 : messages::kTextLatin1;
    }
    return messages::kBinary;
}

} // namespace

bool PlainlyNotRandom(std::span<const unsigned char> sample)
{
    // The table on the stack: no memory to get for the common case.
    constexpr std::size_t kFirstSlots = 2 * kPlausibilityFirstSampleSize / kBlock;
    std::array<std::uint64_t, kFirstSlots> slots;
    std::array<unsigned char, kFirstSlots> used{};
    const std::span<const unsigned char> first =
        sample.first(std::min(sample.size(), kPlausibilityFirstSampleSize));
    CSecureBuffer distinct(first.size(), EMemoryLock::None);
    CollectDistinctBlocks(first, distinct, slots.data(), used.data(), kFirstSlots);
    return !LooksUniform(distinct.Bytes());
}

SPlausibility JudgePlaintext(std::span<const unsigned char> sample, EPlausibilityDetail detail)
{
    sample = sample.first(std::min(sample.size(), kPlausibilitySampleSize));
    if (sample.size() < kPlausibilityMinimumSize)
        return {EPlausibility::TooShort, messages::kTooShort};

    bool bUniform = !PlainlyNotRandom(sample);
    if (bUniform && sample.size() > kPlausibilityFirstSampleSize) {
        std::size_t nSlots = 16;
        while (nSlots < 2 * (sample.size() / kBlock))
            nSlots *= 2;
        std::vector<std::uint64_t> slots(nSlots);
        std::vector<unsigned char> used(nSlots, 0);
        CSecureBuffer distinct(sample.size(), EMemoryLock::None);
        CollectDistinctBlocks(sample, distinct, slots.data(), used.data(), nSlots);
        bUniform = LooksUniform(distinct.Bytes());
    }
    if (!bUniform) {
        if (detail == EPlausibilityDetail::Verdict)
            return {EPlausibility::Plausible, {}};
        return {EPlausibility::Plausible, DescribePlausible(sample)};
    }

    if (const SSignature* pSignature = FindSignature(sample); pSignature != nullptr && pSignature->bStrong)
        return {EPlausibility::Plausible, pSignature->pszDescription};
    if (IsOpenPgpChain(sample))
        return {EPlausibility::Plausible, messages::kOpenPgp};
    if (const char* pszDescription = TrustedMimeDescription(MagicMimeType(sample)))
        return {EPlausibility::Plausible, pszDescription};
    return {EPlausibility::LooksRandom, messages::kLooksRandom};
}

void CPlaintextSample::Append(const unsigned char* pData, std::size_t nSize)
{
    if (m_bJudged || nSize == 0)
        return;
    if (m_bytes.Size() == 0 && nSize >= kPlausibilitySampleSize) {
        m_judgement = JudgePlaintext({pData, kPlausibilitySampleSize}, m_detail);
        m_bJudged = true;
        return;
    }
    // Made on first use: a decryption that is not judged never asks for it.
    if (m_bytes.Capacity() == 0)
        m_bytes = CSecureBuffer(kPlausibilitySampleSize, EMemoryLock::None);
    m_bytes.Append(pData, nSize);
}

SPlausibility CPlaintextSample::Judge() const
{
    return m_bJudged ? m_judgement : JudgePlaintext(m_bytes.Bytes(), m_detail);
}

} // namespace brasko
