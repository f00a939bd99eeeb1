#pragma once

#include <string>
#include <string_view>

namespace brasko {

// The prefix an output's name gets unless the user gives another: bericht.xls becomes e_bericht.xls.
inline constexpr const char* kDefaultPrefix = "e_";

// Whether a template has at least one field: without any, an output would be named as its input.
bool HasTemplate(std::string_view prefix, std::string_view suffix, std::string_view extension);

// How an output is named after its input.
struct SOutputTemplate
{
    std::string strPrefix;
    std::string strSuffix;
    std::string strExtension;

    bool HasTemplate() const { return brasko::HasTemplate(strPrefix, strSuffix, strExtension); }
    // The output's name for an input's name (no folder): prefix, base name, suffix, the name's extension
    // from its first dot (not a leading one), and the file ending.
    std::string BuildOutputName(const std::string& strInputName) const;
    // The output path for an input: the input's absolute folder (AbsolutePath), then BuildOutputName of its
    // name. Empty when the current directory cannot be determined.
    std::string BuildOutputPath(const std::string& strInputPath) const;
    // The output path for an input given relative to a folder ("a/b/bericht.xls" gives
    // "a/b/e_bericht.xls"): its folders as they are, then BuildOutputName of its name. For a front end that
    // sees only paths below a folder the user chose (the web page), so nothing is resolved or folded.
    std::string BuildRelativeOutputPath(const std::string& strRelativeInput) const;
};

// The path's full form with "." and ".." folded without following links, relative paths resolved against
// the current directory. Empty when the current directory cannot be determined.
std::string AbsolutePath(const std::string& strPath);

} // namespace brasko
