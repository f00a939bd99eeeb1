#pragma once

#include <string>

namespace brasko::cli {

// The system's text for an errno value, in German when a German locale is installed.
std::string SystemErrorText(int nError);

} // namespace brasko::cli
