#include "Utf8.h"
#include "cli/CliMessages.h"
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace brasko::cli {
namespace {

SParseResult Parse(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = {messages::kProgramName};
    for (const std::string& strArg : args)
        argv.push_back(strArg.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::string UsageError(const std::string& strText)
{
    return std::string(messages::kProgramName) + ": " + strText + "\n" + messages::kUsageHint + "\n";
}

// Every kind of mistake is told in German from what the parser saw; the run ends with status 2.
TEST(CommandLineParse, Mistakes_NamedInGerman)
{
    struct SCase
    {
        std::vector<std::string> args;
        std::string strText;
    };
    const std::vector<SCase> cases = {
        {{"-x", "a.bin"}, messages::UnknownOptions("-x", false)},
        // A cluster with a character that is no option is named as written.
        {{"-qx"}, messages::UnknownOptions("-qx", false)},
        // A long option counts only by its full name.
        {{"--pre", "x"}, messages::UnknownOptions("--pre", false)},
        // All unknown options at once, without a value that could be a password.
        {{"--pass=geheim", "a.bin", "-p=geheim"},
         messages::UnknownOptions("--pass, -p", true) + "\n" + messages::kPasswordNotOnCommandLine},
        {{"-qj"}, messages::MissingValue("--jobs")},
        // A missing value ends the parse before unknown options are named, and before help.
        {{"--bogus", "--help", "--output-dir"}, messages::MissingValue("--output-dir")},
        {{"--files-from="}, messages::MissingValue("--files-from")},
        {{"--dry-run=ja"}, messages::OptionMisused("--dry-run")},
        {{"-j", "-1"}, messages::InvalidJobs("-1", kMaxJobs)},
        {{"-j4x"}, messages::InvalidJobs("4x", kMaxJobs)},
        {{"--jobs="}, messages::InvalidJobs("", kMaxJobs)},
        {{"--jobs=18446744073709551617"}, messages::InvalidJobs("18446744073709551617", kMaxJobs)},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        const SParseResult result = Parse(testCase.args);
        EXPECT_EQ(result.exitStatus, kExitUsage);
        EXPECT_EQ(result.strError, UsageError(testCase.strText));
        EXPECT_EQ(result.strOutput, "");
    }
}

// A file is any argument that is no option, and every argument after "--"; options may follow files, and a
// value is the next argument whatever it looks like.
TEST(CommandLineParse, Arguments_FilesLiteralOptionsAnywhere)
{
    struct SCase
    {
        std::vector<std::string> args;
        std::function<void(SCommandLine&)> expect; // applied to the defaults
    };
    const std::vector<SCase> cases = {
        {{"--", "--prefix", "-q", "--"},
         [](SCommandLine& c) {
             c.files = {"--prefix", "-q", "--"};
         }},
        {{"a.bin", "-qc", "-", "--", "-r"},
         [](SCommandLine& c) {
             c.bQuiet = true;
             c.bToStdout = true;
             c.files = {"a.bin", "-", "-r"};
         }},
        {{"--prefix=", "--suffix=", "x"},
         [](SCommandLine& c) {
             c.strPrefix = "";
             c.files = {"x"};
         }},
        {{"--prefix", "--", "-v"},
         [](SCommandLine& c) {
             c.strPrefix = "--";
             c.bVerbose = true;
         }},
        {{"--prefix", "--quiet", "--output-dir", "-x"},
         [](SCommandLine& c) {
             c.strPrefix = "--quiet";
             c.strOutputDir = "-x";
         }},
        {{"-qrj4", "--jobs", "2", "--jobs=1024", "--quiet="},
         [](SCommandLine& c) {
             c.bQuiet = true;
             c.bRecursive = true;
             c.nJobs = 1024;
         }},
        {{"--password-file=", "-0n"},
         [](SCommandLine& c) {
             c.passwordSource = EPasswordSource::File;
             c.bNullSeparated = true;
             c.bSkipExisting = true;
         }},
    };
    for (const SCase& testCase : cases) {
        SCOPED_TRACE(testing::PrintToString(testCase.args));
        const SParseResult result = Parse(testCase.args);
        EXPECT_EQ(result.exitStatus, std::nullopt) << result.strError;
        SCommandLine expected;
        testCase.expect(expected);
        EXPECT_TRUE(result.commandLine == expected);
        EXPECT_EQ(result.commandLine.files, expected.files);
    }
}

// The help fits a terminal of 80 columns, counted in characters ("ü" takes one column, two bytes).
TEST(CommandLineParse, Help_FitsEightyColumns)
{
    const SParseResult result = Parse({"--help"});
    ASSERT_EQ(result.exitStatus, kExitSuccess);
    std::istringstream lines(result.strOutput);
    for (std::string strLine; std::getline(lines, strLine);)
        EXPECT_LE(utf8::CountCharacters(strLine), 80U) << strLine;
}

} // namespace
} // namespace brasko::cli
