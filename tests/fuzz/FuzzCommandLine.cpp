// The command line's parsing: arguments are the input split at zero bytes. Whatever they hold, the files
// it returns are arguments taken literally, in the order given, and everything after "--" is a file.
#include "cli/CommandLine.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Help and usage errors are written to std::cout and std::cerr; the fuzzer does not need them.
class CNullBuffer : public std::streambuf
{
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char* /*pData*/, std::streamsize nSize) override { return nSize; }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*pArgc*/, char*** /*pArgv*/)
{
    static CNullBuffer nullBuffer;
    std::cout.rdbuf(&nullBuffer);
    std::cerr.rdbuf(&nullBuffer);
    return 0;
}

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
        FUZZ_CHECK(*result.exitStatus == brasko::cli::kExitSuccess ||
                   *result.exitStatus == brasko::cli::kExitUsage);
        return 0;
    }
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
    // Everything after the first "--" is a file, the last ones of the list.
    const auto separator = std::find(args.begin() + 1, args.end(), "--");
    if (separator != args.end()) {
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
