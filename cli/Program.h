#pragma once

namespace brasko::cli {

// The whole command line: parses the arguments, reads the password, decrypts (or checks, or shows the plan)
// and reports on stdout and stderr. Answers the exit status.
int RunProgram(int argc, const char* const* argv);

} // namespace brasko::cli
