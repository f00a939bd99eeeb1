#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace brasko {

// The formats the verdict recognises, as data in one place (Signatures.cpp), each with the description the
// user is shown.

// A signature at a fixed place, optionally with a second part. Strong ones are long enough (3 bytes and
// more at fixed places) that random bytes match them less than once in ten million samples; only those may
// vouch for content that looks random. Weak ones merely name content that is plausible anyway.
struct SSignature
{
    std::size_t nOffset;
    std::string_view magic;
    std::size_t nOffset2;
    std::string_view magic2;
    const char* pszDescription;
    bool bStrong;
};

// Whether the bytes hold magic at nOffset.
bool HasAt(std::span<const unsigned char> bytes, std::size_t nOffset, std::string_view magic);

// The first signature the bytes begin with, or null.
const SSignature* FindSignature(std::span<const unsigned char> bytes);

// Formats whose content is random-looking by nature and whose libmagic signature is strong (four bytes and
// more at fixed places, or a name inside an archive), with what the user is told. Whatever else libmagic
// reports for random-looking bytes is not trusted: it matches short, weak signatures in about one random
// buffer of 50 ("application/x-dosexec", "audio/mpeg", "application/zlib"). Its English descriptions are
// never shown; the MIME type only selects one of these German ones.
const char* TrustedMimeDescription(std::string_view type);

} // namespace brasko
