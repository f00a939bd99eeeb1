#pragma once

#include <cstddef>
#include <string_view>

namespace brasko::utf8 {

// Length in bytes of the character that starts at nPos: the length of a valid UTF-8 sequence, or 1 for a
// byte that does not start one (such a byte counts as a character of its own).
std::size_t CharacterLength(std::string_view text, std::size_t nPos);

// Number of characters in the sense of CharacterLength.
std::size_t CountCharacters(std::string_view text);

// The first nMaxChars characters of text.
std::string_view FirstCharacters(std::string_view text, std::size_t nMaxChars);

} // namespace brasko::utf8
