#include "CommandLine.h"

#include "CliMessages.h"
#include "TerminalText.h"
#include "Version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <iostream>
#include <iterator>
#include <string_view>

namespace brasko::cli {

namespace {

// Options that take a value. "--prefix=" is split into "--prefix" and "", because the parser would
// otherwise take the next argument as the value instead of the empty text the user wrote.
constexpr std::array<std::string_view, 7> kValueOptions = {
    "--prefix", "--suffix", "--extension", "--password-file", "--jobs", "--files-from", "--output-dir"};

// The parser reads an argument in square brackets as a list ("[a.enc,b.enc]" as two files, "[]" as none),
// even after "--". No argument of a C program can hold a zero byte, so one put in front hides the
// brackets from the parser; every option's values drop it again (Unmarked) before they are stored.
constexpr char kLiteralMark = '\0';

std::string MarkedLiteral(std::string_view arg)
{
    if (arg.starts_with('[') && arg.ends_with(']'))
        return kLiteralMark + std::string(arg);
    return std::string(arg);
}

std::string Unmarked(std::string strValue)
{
    if (strValue.starts_with(kLiteralMark))
        strValue.erase(0, 1);
    return strValue;
}

std::vector<std::string> SplitEmptyAssignments(int argc, const char* const* argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            std::transform(argv + i, argv + argc, std::back_inserter(args), MarkedLiteral);
            break;
        }
        if (i > 0 && arg.ends_with('=') &&
            std::find(kValueOptions.begin(), kValueOptions.end(), arg.substr(0, arg.size() - 1)) !=
                kValueOptions.end()) {
            args.emplace_back(arg.substr(0, arg.size() - 1));
            args.emplace_back();
        } else {
            args.push_back(MarkedLiteral(arg));
        }
    }
    return args;
}

void ReportUsageError(const std::string& strText)
{
    std::cerr << messages::kProgramName << ": " << strText << '\n' << messages::kUsageHint << '\n';
}

// The option an error of the parser is about: its text starts with the option's long name, with or
// without the dashes. Empty when it names none.
std::string OptionNameIn(const std::string& strError, const CLI::App& app)
{
    for (const CLI::Option* pOption : app.get_options()) {
        for (const std::string& strLong : pOption->get_lnames()) {
            for (const std::string& strName : {"--" + strLong, strLong}) {
                if (strError.starts_with(strName) && strError.size() > strName.size() &&
                    (strError[strName.size()] == ':' || strError[strName.size()] == ' '))
                    return "--" + strLong;
            }
        }
    }
    return {};
}

// The parser's own texts are English; say the same in German.
std::string GermanParseError(const CLI::ParseError& error, const CLI::App& app)
{
    const std::string strWhat = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        std::string strNames;
        bool bAsksForPassword = false;
        const std::vector<std::string> extras = app.remaining();
        for (const std::string& strExtra : extras) {
            // Only the name: a value given with "=" could be a password.
            const std::string strName = strExtra.substr(0, strExtra.find('='));
            bAsksForPassword = bAsksForPassword || strName.starts_with("--pass");
            strNames += (strNames.empty() ? "" : ", ") + QuoteForTerminal(strName);
        }
        std::string strText = messages::UnknownOptions(strNames, extras.size() > 1);
        if (bAsksForPassword)
            strText += '\n' + std::string(messages::kPasswordNotOnCommandLine);
        return strText;
    }
    const std::string strOption = OptionNameIn(strWhat, app);
    if (strOption.empty())
        return messages::kInvalidCall;
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && strWhat.ends_with(" missing"))
        return messages::MissingValue(strOption);
    return messages::OptionMisused(strOption);
}

// The parser splits a cluster of short flags and hands on what follows them as "-" plus the rest; when that
// rest starts with a character no option name can ("-q--2", "-q!x"), it becomes a file nobody named. Every
// file must be one of the arguments as given, in their order: the argument that yielded the first other
// one, or empty when all are.
std::optional<std::string> ArgumentNotTakenLiterally(const std::vector<std::string>& files, int argc,
                                                     const char* const* argv)
{
    int i = 1;
    for (const std::string& strFile : files) {
        while (i < argc && strFile != argv[i])
            ++i;
        if (i == argc) {
            const std::string_view rest = std::string_view(strFile).substr(strFile.empty() ? 0 : 1);
            for (int j = 1; j < argc; ++j) {
                if (const std::string_view arg = argv[j]; arg.starts_with('-') && arg.ends_with(rest))
                    return std::string(arg);
            }
            return strFile;
        }
        ++i;
    }
    return std::nullopt;
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

} // namespace

SParseResult ParseCommandLine(int argc, const char* const* argv)
{
    SParseResult result;
    SCommandLine& commandLine = result.commandLine;
    bool bPasswordStdin = false;
    std::string strJobs = "0";

    CLI::App app(messages::kDescription, messages::kProgramName);
    app.footer(messages::kFooter);
    const auto formatter = app.get_formatter();
    formatter->label("Usage", "Aufruf");
    formatter->label("OPTIONS", "OPTIONEN");
    formatter->label("Positionals", "Argumente");
    formatter->column_width(26);
    // A repeated option counts with its last value, as with most command lines.
    app.option_defaults()->group("Optionen")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag("-h,--help", messages::kHelpHelp);
    app.set_version_flag("--version", std::string(messages::kProgramName) + " " + kVersionString,
                         messages::kHelpVersion);
    app.add_option("--prefix", commandLine.strPrefix, messages::kHelpPrefix)->type_name("TEXT");
    app.add_option("--suffix", commandLine.strSuffix, messages::kHelpSuffix)->type_name("TEXT");
    app.add_option("--extension", commandLine.strExtension, messages::kHelpExtension)->type_name("TEXT");
    app.add_flag("--password-stdin", bPasswordStdin, messages::kHelpPasswordStdin)->disable_flag_override();
    CLI::Option* pFileOption =
        app.add_option("--password-file", commandLine.strPasswordFile, messages::kHelpPasswordFile)
            ->type_name("PFAD");
    app.add_option("-j,--jobs", strJobs, messages::kHelpJobs)->type_name("N");
    app.add_flag("-q,--quiet", commandLine.bQuiet, messages::kHelpQuiet)->disable_flag_override();
    app.add_flag("--check", commandLine.bCheckOnly, messages::kHelpCheck)->disable_flag_override();
    app.add_flag("--no-check", commandLine.bNoCheck, messages::kHelpNoCheck)->disable_flag_override();
    CLI::Option* pFilesFromOption =
        app.add_option("--files-from", commandLine.strFilesFrom, messages::kHelpFilesFrom)
            ->type_name("LISTE");
    app.add_flag("-0,--null", commandLine.bNullSeparated, messages::kHelpNull)->disable_flag_override();
    app.add_flag("-r,--recursive", commandLine.bRecursive, messages::kHelpRecursive)->disable_flag_override();
    app.add_option("--output-dir", commandLine.strOutputDir, messages::kHelpOutputDir)->type_name("ORDNER");
    app.add_flag("-n,--skip-existing", commandLine.bSkipExisting, messages::kHelpSkipExisting)
        ->disable_flag_override();
    app.add_flag("--dry-run", commandLine.bDryRun, messages::kHelpDryRun)->disable_flag_override();
    app.add_flag("-v,--verbose", commandLine.bVerbose, messages::kHelpVerbose)->disable_flag_override();
    app.add_option("DATEI", commandLine.files, messages::kHelpFiles)->type_name("");

    for (CLI::Option* pOption : app.get_options())
        pOption->transform(Unmarked);
    std::vector<std::string> args = SplitEmptyAssignments(argc, argv);
    // The parser takes the arguments without the program's name, last first.
    std::reverse(args.begin(), args.end());
    if (!args.empty())
        args.pop_back();
    try {
        app.parse(std::move(args));
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        result.exitStatus = kExitSuccess;
        return result;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        result.exitStatus = kExitSuccess;
        return result;
    } catch (const CLI::ParseError& error) {
        ReportUsageError(GermanParseError(error, app));
        result.exitStatus = kExitUsage;
        return result;
    }

    if (const std::optional<std::string> strArgument =
            ArgumentNotTakenLiterally(commandLine.files, argc, argv)) {
        ReportUsageError(messages::UnknownOptions(QuoteForTerminal(*strArgument), false));
        result.exitStatus = kExitUsage;
        return result;
    }
    if (bPasswordStdin && pFileOption->count() > 0) {
        ReportUsageError(messages::kPasswordSourcesExclusive);
        result.exitStatus = kExitUsage;
        return result;
    }
    if (commandLine.bCheckOnly && commandLine.bNoCheck) {
        ReportUsageError(messages::kCheckOptionsExclusive);
        result.exitStatus = kExitUsage;
        return result;
    }
    // Both would read standard input.
    if (bPasswordStdin && pFilesFromOption->count() > 0 && commandLine.strFilesFrom == "-") {
        ReportUsageError(messages::kStdinTwice);
        result.exitStatus = kExitUsage;
        return result;
    }
    if (pFilesFromOption->count() > 0 && commandLine.strFilesFrom.empty()) {
        ReportUsageError(messages::MissingValue("--files-from"));
        result.exitStatus = kExitUsage;
        return result;
    }
    if (bPasswordStdin)
        commandLine.passwordSource = EPasswordSource::Stdin;
    else if (pFileOption->count() > 0)
        commandLine.passwordSource = EPasswordSource::File;

    if (const std::optional<unsigned> nJobs = ParseJobs(strJobs)) {
        commandLine.nJobs = *nJobs;
    } else {
        ReportUsageError(messages::InvalidJobs(EscapeForTerminal(strJobs), kMaxJobs));
        result.exitStatus = kExitUsage;
    }
    return result;
}

} // namespace brasko::cli
