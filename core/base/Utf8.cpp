#include "Utf8.h"

namespace brasko::utf8 {

std::size_t CharacterLength(std::string_view text, std::size_t nPos)
{
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(nPos);
    if (lead < 0x80)
        return 1;

    std::size_t nLength = 0;
    unsigned char lowest = 0x80; // allowed range of the second byte, excluding overlong forms and surrogates
    unsigned char highest = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        nLength = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        nLength = 3;
        if (lead == 0xE0)
            lowest = 0xA0;
        else if (lead == 0xED)
            highest = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        nLength = 4;
        if (lead == 0xF0)
            lowest = 0x90;
        else if (lead == 0xF4)
            highest = 0x8F;
    } else {
        return 1;
    }
    if (nPos + nLength > text.size())
        return 1;
    if (byteAt(nPos + 1) < lowest || byteAt(nPos + 1) > highest)
        return 1;
    for (std::size_t i = 2; i < nLength; ++i) {
        if ((byteAt(nPos + i) & 0xC0) != 0x80)
            return 1;
    }
    return nLength;
}

std::size_t CountCharacters(std::string_view text)
{
    std::size_t nCount = 0;
    for (std::size_t nPos = 0; nPos < text.size(); nPos += CharacterLength(text, nPos))
        ++nCount;
    return nCount;
}

std::string_view FirstCharacters(std::string_view text, std::size_t nMaxChars)
{
    std::size_t nPos = 0;
    for (std::size_t nCount = 0; nPos < text.size() && nCount < nMaxChars; ++nCount)
        nPos += CharacterLength(text, nPos);
    return text.substr(0, nPos);
}

} // namespace brasko::utf8
