#pragma once

#include <string>

namespace brasko::cli {

// The reason for an errno value, in German: our own text for the errors a file operation meets, the
// system's text (German where a German locale is installed) for any other.
std::string SystemErrorText(int nError);

} // namespace brasko::cli
