#pragma once

#include "OutputTemplate.h"

#include <optional>
#include <string>
#include <vector>

namespace brasko::cli {

enum class EPasswordSource
{
    Terminal,
    Stdin,
    File,
};

struct SCommandLine
{
    std::string strPrefix = kDefaultPrefix;
    std::string strSuffix;
    std::string strExtension;
    EPasswordSource passwordSource = EPasswordSource::Terminal;
    std::string strPasswordFile;
    unsigned nJobs = 0;
    bool bQuiet = false;
    bool bCheckOnly = false; // --check: judge each file's start in memory, write nothing
    bool bNoCheck = false;   // --no-check: no trial of the password, no warning for content that looks random
    std::vector<std::string> files;
    // Archives: a list of names to add after the files ("-" for stdin), NUL-separated with bNullSeparated.
    std::string strFilesFrom;
    bool bNullSeparated = false;
    bool bRecursive = false;
    std::string strOutputDir;
    bool bSkipExisting = false;
    bool bDryRun = false;
    bool bVerbose = false;
    // The one input's plaintext to standard output (-c), or to this file (-o); "-" as an input is standard
    // input.
    bool bToStdout = false;
    std::string strOutputFile;

    friend bool operator==(const SCommandLine&, const SCommandLine&) = default;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // at least one file was not decrypted
inline constexpr int kExitUsage = 2;   // a wrong call, no readable password, or an empty template
// A wrong password, most likely: the trial before the first output looked random and nothing was written, or,
// with --check, at least one file looks random.
inline constexpr int kExitLooksRandom = 3;

// The highest --jobs value accepted.
inline constexpr unsigned kMaxJobs = 1024;

// The outcome of parsing. When the program ends at once (help, the version, a usage error), exitStatus holds
// its exit status and strOutput or strError what it writes to stdout or stderr, each line ended by a line
// feed.
struct SParseResult
{
    SCommandLine commandLine;
    std::optional<int> exitStatus;
    std::string strOutput;
    std::string strError;
};

// Every argument that is not an option, and every argument after "--", is a file, taken as it is. Options
// may follow files. A long option is recognised only by its full name; its value follows after "=" or as
// the next argument, whatever that holds. Short options may be clustered ("-qr", "-qj4"). A repeated
// option counts with its last value.

SParseResult ParseCommandLine(int argc, const char* const* argv);

} // namespace brasko::cli
