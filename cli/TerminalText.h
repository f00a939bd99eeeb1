#pragma once

#include <string>
#include <string_view>

namespace brasko::cli {

// Text for a line on the terminal in which a path stands between single quotes, as in every message of the
// program ('/daten/a.bin'). Control characters (C0, DEL, C1) and bytes that are not valid UTF-8 could move
// the cursor, recolour or retitle the terminal, or forge a line of their own; each run of them is shown
// the way ls and cp show such names: the quotation is closed, the bytes follow as $'...' with C escapes
// (\n, \t, ...) or octal ones (\033), and the quotation is opened again. A shell reads the result as the
// original name: 'a'$'\n''b' is "a", a line feed, "b". Everything else is kept as it is.
std::string EscapeForTerminal(std::string_view text);

// The same for a text that stands on its own, without quotation marks around it: unchanged when there is
// nothing to escape, and quoted as a whole otherwise ('a'$'\033''b').
std::string QuoteForTerminal(std::string_view text);

} // namespace brasko::cli
