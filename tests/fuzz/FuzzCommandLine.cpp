// The command line's parsing: arguments are the input split at zero bytes. Whatever they hold, the files
// it returns are arguments taken literally, in the order given, and everything after "--" is a file.
#include "cli/CommandLine.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Whether the argument is an option that takes the next one as its value, as "--" after it would be.
bool TakesNextAsValue(std::string_view arg)
{
    constexpr std::array<std::string_view, 7> kValueOptions = {
        "--prefix", "--suffix", "--extension", "--password-file", "--jobs", "--files-from", "--output-dir"};
    if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end())
        return true;
    return arg.size() > 1 && arg[0] == '-' && arg[1] != '-' && arg.ends_with('j');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<std::string> args = {"brasko-decrypt-cli"};
    const std::string strData(reinterpret_cast<const char*>(pData), nSize);
    for (std::size_t nPos = 0; nPos <= strData.size() && args.size() < 64;) {
        const std::size_t nEnd = std::min(strData.find('\0', nPos), strData.size());
        args.push_back(strData.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& strArg : args)
        argv.push_back(strArg.c_str());

    const brasko::cli::SParseResult result =
        brasko::cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (result.exitStatus) {
        // Help and the version go to stdout; a usage error is a line on stderr and the hint to --help.
        if (*result.exitStatus == brasko::cli::kExitSuccess) {
            FUZZ_CHECK(!result.strOutput.empty() && result.strError.empty());
        } else {
            FUZZ_CHECK(*result.exitStatus == brasko::cli::kExitUsage);
            FUZZ_CHECK(result.strOutput.empty() && result.strError.starts_with("brasko-decrypt-cli: "));
            FUZZ_CHECK(result.strError.ends_with("Hilfe mit --help.\n"));
        }
        return 0;
    }
    FUZZ_CHECK(result.strOutput.empty() && result.strError.empty());
    const brasko::cli::SCommandLine& commandLine = result.commandLine;
    FUZZ_CHECK(commandLine.nJobs <= brasko::cli::kMaxJobs);
    // The files are a subsequence of the arguments.
    std::size_t nArg = 1;
    for (const std::string& strFile : commandLine.files) {
        while (nArg < args.size() && args[nArg] != strFile)
            ++nArg;
        FUZZ_CHECK(nArg < args.size());
        ++nArg;
    }
    // Everything after the first "--" is a file, the last ones of the list, unless that "--" may be the value
    // of the option before it.
    const auto separator = std::find(args.begin() + 1, args.end(), "--");
    if (separator != args.end() && !TakesNextAsValue(*(separator - 1))) {
        const auto nAfter = static_cast<std::size_t>(args.end() - separator - 1);
        FUZZ_CHECK(commandLine.files.size() >= nAfter);
        FUZZ_CHECK(std::equal(separator + 1, args.end(),
                              commandLine.files.end() - static_cast<std::ptrdiff_t>(nAfter)));
    }
    for (const std::string* pValue : {&commandLine.strPrefix, &commandLine.strSuffix,
                                      &commandLine.strExtension, &commandLine.strPasswordFile})
        FUZZ_CHECK(pValue->find('\0') == std::string::npos);
    return 0;
}
