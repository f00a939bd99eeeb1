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
    bool bNoCheck = false;   // --no-check: no warning for content that looks random
    std::vector<std::string> files;
    // Archives: a list of names to add after the files ("-" for stdin), NUL-separated with bNullSeparated.
    std::string strFilesFrom;
    bool bNullSeparated = false;
    bool bRecursive = false;
    std::string strOutputDir;
    bool bSkipExisting = false;
    bool bDryRun = false;
    bool bVerbose = false;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;     // at least one file was not decrypted
inline constexpr int kExitUsage = 2;       // a wrong call, no readable password, or an empty template
inline constexpr int kExitLooksRandom = 3; // --check: at least one file looks random (a wrong password?)

// The highest --jobs value accepted.
inline constexpr unsigned kMaxJobs = 1024;

// Parses the arguments. Help, the version and usage errors are written out here; the result then holds
// the exit status the program ends with.
struct SParseResult
{
    SCommandLine commandLine;
    std::optional<int> exitStatus;
};

SParseResult ParseCommandLine(int argc, const char* const* argv);

} // namespace brasko::cli
