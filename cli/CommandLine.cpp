#include "CommandLine.h"

#include "CliMessages.h"
#include "TerminalText.h"
#include "Version.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace brasko::cli {

namespace {

// What the arguments said, before the options are checked against each other.
struct SParsed
{
    SCommandLine commandLine;
    std::string strJobs = "0";
    bool bHelp = false;
    bool bVersion = false;
    bool bPasswordStdin = false;
    bool bPasswordFile = false;
    bool bFilesFrom = false;
    std::optional<std::string> outputFile; // -o with its value, even an empty one
    std::vector<std::string> unknown;      // the names of unknown options, without a value given with "="
};

struct SOption
{
    char cShort; // '\0' for none
    std::string_view strLong;
    std::string_view strValueName; // empty for an option without a value
    const char* pszHelp;
    void (*pApply)(SParsed& parsed, std::string_view value);
};

// In the order --help lists them.
constexpr std::array kOptions = {
    SOption{'h', "help", "", messages::kHelpHelp,
            [](SParsed& parsed, std::string_view) { parsed.bHelp = true; }},
    SOption{'V', "version", "", messages::kHelpVersion,
            [](SParsed& parsed, std::string_view) { parsed.bVersion = true; }},
    SOption{'\0', "prefix", "TEXT", messages::kHelpPrefix,
            [](SParsed& parsed, std::string_view value) { parsed.commandLine.strPrefix = value; }},
    SOption{'\0', "suffix", "TEXT", messages::kHelpSuffix,
            [](SParsed& parsed, std::string_view value) { parsed.commandLine.strSuffix = value; }},
    SOption{'\0', "extension", "TEXT", messages::kHelpExtension,
            [](SParsed& parsed, std::string_view value) { parsed.commandLine.strExtension = value; }},
    SOption{'\0', "password-stdin", "", messages::kHelpPasswordStdin,
            [](SParsed& parsed, std::string_view) { parsed.bPasswordStdin = true; }},
    SOption{'\0', "password-file", "PFAD", messages::kHelpPasswordFile,
            [](SParsed& parsed, std::string_view value) {
                parsed.bPasswordFile = true;
                parsed.commandLine.strPasswordFile = value;
            }},
    SOption{'j', "jobs", "N", messages::kHelpJobs,
            [](SParsed& parsed, std::string_view value) { parsed.strJobs = value; }},
    SOption{'q', "quiet", "", messages::kHelpQuiet,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bQuiet = true; }},
    SOption{'\0', "check", "", messages::kHelpCheck,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bCheckOnly = true; }},
    SOption{'\0', "no-check", "", messages::kHelpNoCheck,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bNoCheck = true; }},
    SOption{'\0', "files-from", "LISTE", messages::kHelpFilesFrom,
            [](SParsed& parsed, std::string_view value) {
                parsed.bFilesFrom = true;
                parsed.commandLine.strFilesFrom = value;
            }},
    SOption{'0', "null", "", messages::kHelpNull,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bNullSeparated = true; }},
    SOption{'r', "recursive", "", messages::kHelpRecursive,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bRecursive = true; }},
    SOption{'\0', "output-dir", "ORDNER", messages::kHelpOutputDir,
            [](SParsed& parsed, std::string_view value) { parsed.commandLine.strOutputDir = value; }},
    SOption{'c', "stdout", "", messages::kHelpStdout,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bToStdout = true; }},
    SOption{'o', "output", "DATEI", messages::kHelpOutput,
            [](SParsed& parsed, std::string_view value) { parsed.outputFile = std::string(value); }},
    SOption{'n', "skip-existing", "", messages::kHelpSkipExisting,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bSkipExisting = true; }},
    SOption{'\0', "dry-run", "", messages::kHelpDryRun,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bDryRun = true; }},
    SOption{'v', "verbose", "", messages::kHelpVerbose,
            [](SParsed& parsed, std::string_view) { parsed.commandLine.bVerbose = true; }},
};

const SOption* FindLong(std::string_view name)
{
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [name](const SOption& option) { return option.strLong == name; });
    return it == kOptions.end() ? nullptr : &*it;
}

const SOption* FindShort(char cName)
{
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [cName](const SOption& option) { return option.cShort == cName; });
    return cName == '\0' || it == kOptions.end() ? nullptr : &*it;
}

std::string LongName(std::string_view name)
{
    return std::string("--").append(name);
}

// Where the help's second column starts.
constexpr std::size_t kHelpColumn = 26;

// "  names   text", each further line of the text in the second column; the names stand on a line of their
// own when they are too long for the first.
void AppendHelpLine(std::string& strHelp, const std::string& strNames, std::string_view text)
{
    const std::string strLead = "  " + strNames;
    strHelp += strLead;
    if (strLead.size() >= kHelpColumn)
        strHelp += '\n' + std::string(kHelpColumn, ' ');
    else
        strHelp += std::string(kHelpColumn - strLead.size(), ' ');
    for (std::size_t nBreak = text.find('\n'); nBreak != std::string_view::npos; nBreak = text.find('\n')) {
        strHelp.append(text.substr(0, nBreak)).append("\n").append(kHelpColumn, ' ');
        text.remove_prefix(nBreak + 1);
    }
    strHelp.append(text) += '\n';
}

std::string HelpText()
{
    std::string strHelp = std::string(messages::kDescription) + "\n" + messages::kUsage + "\n\n" +
                          messages::kHelpArgumentsHeading + "\n";
    AppendHelpLine(strHelp, messages::kHelpFilesName, messages::kHelpFiles);
    strHelp += std::string("\n") + messages::kHelpOptionsHeading + "\n";
    for (const SOption& option : kOptions) {
        std::string strNames = option.cShort == '\0' ? "" : std::string{'-', option.cShort, ','};
        strNames.append("--").append(option.strLong);
        if (!option.strValueName.empty())
            strNames.append(" ").append(option.strValueName);
        AppendHelpLine(strHelp, strNames, option.pszHelp);
    }
    return strHelp + "\n" + messages::kFooter + "\n";
}

std::optional<unsigned> ParseJobs(const std::string& strValue)
{
    unsigned nJobs = 0;
    const char* pEnd = strValue.data() + strValue.size();
    const auto [pStop, error] = std::from_chars(strValue.data(), pEnd, nJobs);
    if (strValue.empty() || error != std::errc() || pStop != pEnd || nJobs > kMaxJobs)
        return std::nullopt;
    return nJobs;
}

// Walks the arguments in order. A mistake that leaves the rest unclear (a missing value, a value for an
// option that takes none) ends the walk with its text; unknown options are collected, so that all of them
// are named at once.
class CArgumentWalk
{
public:
    CArgumentWalk(int argc, const char* const* argv, SParsed& parsed)
        : m_nArgc(argc), m_pArgv(argv), m_parsed(parsed)
    {}

    // Empty, or the text of the mistake that ended the walk.
    std::string Walk()
    {
        bool bOnlyFiles = false;
        for (m_nNext = 1; m_nNext < m_nArgc;) {
            const std::string_view arg = m_pArgv[m_nNext++];
            std::string strError;
            if (bOnlyFiles || arg == "-" || !arg.starts_with('-'))
                m_parsed.commandLine.files.emplace_back(arg);
            else if (arg == "--")
                bOnlyFiles = true;
            else if (arg.starts_with("--"))
                strError = LongOption(arg.substr(2));
            else
                strError = ShortOptions(arg);
            if (!strError.empty())
                return strError;
        }
        return {};
    }

private:
    // "--name", "--name=value" or "--name value".
    std::string LongOption(std::string_view body)
    {
        const std::size_t nEquals = body.find('=');
        const std::string strName = LongName(body.substr(0, nEquals));
        const SOption* pOption = FindLong(body.substr(0, nEquals));
        if (pOption == nullptr) {
            m_parsed.unknown.push_back(strName);
            return {};
        }
        if (pOption->strValueName.empty()) {
            // "--quiet=" is taken as "--quiet"; a value is not.
            if (nEquals != std::string_view::npos && nEquals + 1 < body.size())
                return messages::OptionMisused(strName);
            pOption->pApply(m_parsed, {});
            return {};
        }
        if (nEquals != std::string_view::npos) {
            pOption->pApply(m_parsed, body.substr(nEquals + 1));
            return {};
        }
        return TakeNextAsValue(*pOption);
    }

    // "-q", a cluster such as "-qr", and a value joined to its option ("-j4", "-qj4") or following it. A
    // character that is no option makes the whole argument unknown; it is named as written, without what
    // follows a "=" after that character ("-p=geheim" as "-p").
    std::string ShortOptions(std::string_view arg)
    {
        for (std::size_t i = 1; i < arg.size(); ++i) {
            const SOption* pOption = FindShort(arg[i]);
            if (pOption == nullptr) {
                m_parsed.unknown.emplace_back(arg.substr(0, arg.find('=', i + 1)));
                return {};
            }
            if (pOption->strValueName.empty()) {
                pOption->pApply(m_parsed, {});
            } else if (i + 1 < arg.size()) {
                pOption->pApply(m_parsed, arg.substr(i + 1));
                return {};
            } else {
                return TakeNextAsValue(*pOption);
            }
        }
        return {};
    }

    // The next argument is the value, even when it looks like an option or is "--".
    std::string TakeNextAsValue(const SOption& option)
    {
        if (m_nNext == m_nArgc)
            return messages::MissingValue(LongName(option.strLong));
        option.pApply(m_parsed, m_pArgv[m_nNext++]);
        return {};
    }

    int m_nArgc;
    const char* const* m_pArgv;
    SParsed& m_parsed;
    int m_nNext = 1;
};

std::string UnknownOptionsText(const std::vector<std::string>& unknown)
{
    std::string strNames;
    bool bAsksForPassword = false;
    for (const std::string& strName : unknown) {
        bAsksForPassword = bAsksForPassword || strName.starts_with("--pass");
        strNames += (strNames.empty() ? "" : ", ") + QuoteForTerminal(strName);
    }
    std::string strText = messages::UnknownOptions(strNames, unknown.size() > 1);
    if (bAsksForPassword)
        strText += '\n' + std::string(messages::kPasswordNotOnCommandLine);
    return strText;
}

// "-" as an input, -c and -o against the other options; fills in the output file. Whether exactly one input
// remains is known only once the file list and the folders have been read.
std::string CheckSingleOutput(SParsed& parsed)
{
    SCommandLine& commandLine = parsed.commandLine;
    if (parsed.outputFile && parsed.outputFile->empty())
        return messages::MissingValue("--output");
    const bool bReadsStdin =
        std::find(commandLine.files.begin(), commandLine.files.end(), "-") != commandLine.files.end();
    if (bReadsStdin && parsed.bPasswordStdin)
        return messages::StdinInputTwice("--password-stdin");
    if (bReadsStdin && parsed.bFilesFrom && commandLine.strFilesFrom == "-")
        return messages::StdinInputTwice("--files-from -");
    if (commandLine.bToStdout && parsed.outputFile)
        return messages::OptionsExclusive("-c", "-o");
    if (commandLine.bToStdout || parsed.outputFile) {
        const char* pszOption = commandLine.bToStdout ? "-c" : "-o";
        if (commandLine.bCheckOnly)
            return messages::OptionsExclusive(pszOption, "--check");
        if (commandLine.bDryRun)
            return messages::OptionsExclusive(pszOption, "--dry-run");
        if (!commandLine.strOutputDir.empty())
            return messages::OptionsExclusive(pszOption, "--output-dir");
    } else if (bReadsStdin) {
        return messages::kStdinNeedsOutput;
    }
    commandLine.strOutputFile = parsed.outputFile.value_or(std::string());
    return {};
}

// The options checked against each other, in this order; empty when they fit. Fills in what depends on
// more than one option.
std::string CheckCombination(SParsed& parsed)
{
    SCommandLine& commandLine = parsed.commandLine;
    if (!parsed.unknown.empty())
        return UnknownOptionsText(parsed.unknown);
    if (parsed.bPasswordStdin && parsed.bPasswordFile)
        return messages::kPasswordSourcesExclusive;
    if (commandLine.bCheckOnly && commandLine.bNoCheck)
        return messages::kCheckOptionsExclusive;
    // Both would read standard input.
    if (parsed.bPasswordStdin && parsed.bFilesFrom && commandLine.strFilesFrom == "-")
        return messages::kStdinTwice;
    if (parsed.bFilesFrom && commandLine.strFilesFrom.empty())
        return messages::MissingValue("--files-from");
    if (const std::string strError = CheckSingleOutput(parsed); !strError.empty())
        return strError;
    if (parsed.bPasswordStdin)
        commandLine.passwordSource = EPasswordSource::Stdin;
    else if (parsed.bPasswordFile)
        commandLine.passwordSource = EPasswordSource::File;

    const std::optional<unsigned> nJobs = ParseJobs(parsed.strJobs);
    if (!nJobs)
        return messages::InvalidJobs(EscapeForTerminal(parsed.strJobs), kMaxJobs);
    commandLine.nJobs = *nJobs;
    return {};
}

SParseResult Ended(int nExitStatus, std::string strOutput, std::string strError)
{
    SParseResult result;
    result.exitStatus = nExitStatus;
    result.strOutput = std::move(strOutput);
    result.strError = std::move(strError);
    return result;
}

SParseResult UsageError(const std::string& strText)
{
    return Ended(kExitUsage, {},
                 std::string(messages::kProgramName) + ": " + strText + '\n' + messages::kUsageHint + '\n');
}

} // namespace

SParseResult ParseCommandLine(int argc, const char* const* argv)
{
    SParsed parsed;
    if (const std::string strError = CArgumentWalk(argc, argv, parsed).Walk(); !strError.empty())
        return UsageError(strError);
    // The version and the help are shown whatever else the arguments hold.
    if (parsed.bVersion)
        return Ended(kExitSuccess, std::string(messages::kProgramName) + " " + kVersionString + "\n", {});
    if (parsed.bHelp)
        return Ended(kExitSuccess, HelpText(), {});
    if (const std::string strError = CheckCombination(parsed); !strError.empty())
        return UsageError(strError);
    SParseResult result;
    result.commandLine = std::move(parsed.commandLine);
    return result;
}

} // namespace brasko::cli
