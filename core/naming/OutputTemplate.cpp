#include "OutputTemplate.h"

#include <cerrno>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace brasko {

namespace {

std::string CurrentDirectory()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

} // namespace

bool HasTemplate(std::string_view prefix, std::string_view suffix, std::string_view extension)
{
    return !prefix.empty() || !suffix.empty() || !extension.empty();
}

std::string SOutputTemplate::BuildOutputName(const std::string& strName) const
{
    // The extension starts at the first dot of the name, unless that dot is its first character.
    std::string strBase = strName;
    std::string strExt;
    if (const std::size_t nDot = strName.find('.'); nDot != std::string::npos && nDot > 0) {
        strBase = strName.substr(0, nDot);
        strExt = strName.substr(nDot);
    }
    return strPrefix + strBase + strSuffix + strExt + strExtension;
}

std::string SOutputTemplate::BuildOutputPath(const std::string& strInputPath) const
{
    const std::string strFull = AbsolutePath(strInputPath);
    if (strFull.empty())
        return {};
    const std::size_t nNameStart = strFull.rfind('/') + 1;
    return strFull.substr(0, nNameStart) + BuildOutputName(strFull.substr(nNameStart));
}

std::string SOutputTemplate::BuildRelativeOutputPath(const std::string& strRelativeInput) const
{
    const std::size_t nNameStart = strRelativeInput.rfind('/') + 1; // 0 when there is no folder
    return strRelativeInput.substr(0, nNameStart) + BuildOutputName(strRelativeInput.substr(nNameStart));
}

std::string AbsolutePath(const std::string& strPath)
{
    std::string strFull = strPath;
    if (strFull.empty() || strFull.front() != '/') {
        const std::string strCwd = CurrentDirectory();
        if (strCwd.empty())
            return {};
        strFull = strCwd + "/" + strFull;
    }
    // Fold "." and ".." and repeated separators lexically; links are not followed. Each name kept is
    // appended as "/name"; ".." cuts the last one off again.
    std::string strResult;
    strResult.reserve(strFull.size() + 1);
    std::size_t nPos = 0;
    while (nPos <= strFull.size()) {
        std::size_t nNext = strFull.find('/', nPos);
        if (nNext == std::string::npos)
            nNext = strFull.size();
        const std::string_view part(strFull.data() + nPos, nNext - nPos);
        if (part == "..") {
            if (const std::size_t nSlash = strResult.rfind('/'); nSlash != std::string::npos)
                strResult.resize(nSlash);
        } else if (!part.empty() && part != ".") {
            strResult += '/';
            strResult += part;
        }
        nPos = nNext + 1;
    }
    const bool bEndsInFolder = strFull.back() == '/' || strFull.ends_with("/.") || strFull.ends_with("/..");
    if (strResult.empty() || bEndsInFolder)
        strResult += "/";
    return strResult;
}

} // namespace brasko
