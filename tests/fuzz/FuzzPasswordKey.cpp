// The password-to-key rule, the cut to 24 characters the command line makes, and the escaping of names for
// the terminal.
#include "TripleDes.h"
#include "Utf8.h"
#include "cli/TerminalText.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <string>

namespace {

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t nPos = 0; nPos < text.size();) {
        const std::size_t nLength = brasko::utf8::CharacterLength(text, nPos);
        if (nLength == 1 && static_cast<unsigned char>(text[nPos]) >= 0x80)
            return false;
        nPos += nLength;
    }
    return true;
}

// C0 and C1 controls and DEL, in valid UTF-8 text.
bool HasControlCharacters(std::string_view text)
{
    for (std::size_t nPos = 0; nPos < text.size(); nPos += brasko::utf8::CharacterLength(text, nPos)) {
        const auto lead = static_cast<unsigned char>(text[nPos]);
        if (lead < 0x20 || lead == 0x7F ||
            (lead == 0xC2 && static_cast<unsigned char>(text[nPos + 1]) < 0xA0))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string strPassword(reinterpret_cast<const char*>(pData), nSize);
    const std::size_t nChars = brasko::utf8::CountCharacters(strPassword);
    FUZZ_CHECK(nChars <= strPassword.size());
    const std::string_view first = brasko::utf8::FirstCharacters(strPassword, brasko::kMaxPasswordChars);
    FUZZ_CHECK(brasko::utf8::CountCharacters(first) == std::min(nChars, brasko::kMaxPasswordChars));

    // One key byte per character: ASCII as it is, anything else "?", blanks after the last.
    const brasko::CTripleDesKey key = brasko::DeriveKey(strPassword);
    std::size_t nPos = 0;
    for (std::size_t i = 0; i < brasko::kKeyLength; ++i) {
        const unsigned char byte = key.Bytes()[i];
        if (nPos >= strPassword.size()) {
            FUZZ_CHECK(byte == ' ');
            continue;
        }
        const std::size_t nLength = brasko::utf8::CharacterLength(strPassword, nPos);
        FUZZ_CHECK(nLength >= 1 && nLength <= 4 && nPos + nLength <= strPassword.size());
        const auto lead = static_cast<unsigned char>(strPassword[nPos]);
        FUZZ_CHECK(byte == (lead < 0x80 ? lead : '?'));
        nPos += nLength;
    }
    // The same key for the password cut to its first 24 characters.
    FUZZ_CHECK(std::ranges::equal(brasko::DeriveKey(std::string(first)).Bytes(), key.Bytes()));

    // Nothing that a terminal would act on survives the escaping, the result is valid UTF-8, and a text
    // without such characters is shown as it is.
    const std::string strShown = brasko::cli::EscapeForTerminal(strPassword);
    FUZZ_CHECK(IsValidUtf8(strShown));
    FUZZ_CHECK(!HasControlCharacters(strShown));
    if (IsValidUtf8(strPassword) && !HasControlCharacters(strPassword))
        FUZZ_CHECK(strShown == strPassword);
    else
        FUZZ_CHECK(strShown != strPassword);
    return 0;
}
