#include "TerminalText.h"

#include "Utf8.h"

namespace brasko::cli {

namespace {

// Whether the character of nLength bytes at nPos is shown escaped.
bool NeedsEscape(std::string_view text, std::size_t nPos, std::size_t nLength)
{
    const auto lead = static_cast<unsigned char>(text[nPos]);
    if (nLength == 1)
        return lead < 0x20 || lead >= 0x7F; // C0, DEL, or a byte that starts no valid character
    // U+0080 to U+009F, the C1 controls (CSI among them).
    return lead == 0xC2 && static_cast<unsigned char>(text[nPos + 1]) < 0xA0;
}

void AppendEscaped(std::string& strOut, unsigned char byte)
{
    switch (byte) {
    case '\a':
        strOut += "\\a";
        return;
    case '\b':
        strOut += "\\b";
        return;
    case '\t':
        strOut += "\\t";
        return;
    case '\n':
        strOut += "\\n";
        return;
    case '\v':
        strOut += "\\v";
        return;
    case '\f':
        strOut += "\\f";
        return;
    case '\r':
        strOut += "\\r";
        return;
    default:
        strOut += '\\';
        strOut += static_cast<char>('0' + (byte >> 6));
        strOut += static_cast<char>('0' + ((byte >> 3) & 7));
        strOut += static_cast<char>('0' + (byte & 7));
    }
}

} // namespace

std::string EscapeForTerminal(std::string_view text)
{
    std::string strOut;
    strOut.reserve(text.size());
    bool bInEscape = false;
    for (std::size_t nPos = 0; nPos < text.size();) {
        const std::size_t nLength = utf8::CharacterLength(text, nPos);
        const bool bEscape = NeedsEscape(text, nPos, nLength);
        if (bEscape != bInEscape) {
            strOut += bEscape ? "'$'" : "''";
            bInEscape = bEscape;
        }
        if (bEscape) {
            for (std::size_t i = 0; i < nLength; ++i)
                AppendEscaped(strOut, static_cast<unsigned char>(text[nPos + i]));
        } else {
            strOut.append(text.substr(nPos, nLength));
        }
        nPos += nLength;
    }
    if (bInEscape)
        strOut += "''";
    return strOut;
}

std::string QuoteForTerminal(std::string_view text)
{
    std::string strEscaped = EscapeForTerminal(text);
    if (strEscaped == text)
        return strEscaped;
    return "'" + strEscaped + "'";
}

} // namespace brasko::cli
