// The folding of an input path into an absolute one and the output name made of it.
#include "OutputTemplate.h"
#include "tests/fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {

bool HasDotComponent(const std::string& strPath)
{
    std::size_t nPos = 0;
    while (nPos < strPath.size()) {
        std::size_t nNext = strPath.find('/', nPos);
        if (nNext == std::string::npos)
            nNext = strPath.size();
        const std::string_view part = std::string_view(strPath).substr(nPos, nNext - nPos);
        if (part == "." || part == "..")
            return true;
        nPos = nNext + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider data(pData, nSize);
    const std::string strPrefix = data.ConsumeRandomLengthString(16);
    const std::string strSuffix = data.ConsumeRandomLengthString(16);
    const std::string strExtension = data.ConsumeRandomLengthString(16);
    const std::string strInput = data.ConsumeRemainingBytesAsString();

    const std::string strFull = brasko::AbsolutePath(strInput);
    FUZZ_CHECK(!strFull.empty()); // the current directory is known here
    FUZZ_CHECK(strFull.front() == '/');
    FUZZ_CHECK(strFull.find("//") == std::string::npos);
    FUZZ_CHECK(!HasDotComponent(strFull));
    FUZZ_CHECK(brasko::AbsolutePath(strFull) == strFull);

    const brasko::SOutputTemplate outputTemplate{strPrefix, strSuffix, strExtension};
    const std::string strOutput = outputTemplate.BuildOutputPath(strInput);
    // The output lies in the input's folder and is named prefix, name, suffix, extension, file ending.
    const std::string strFolder = strFull.substr(0, strFull.rfind('/') + 1);
    const std::string strName = strFull.substr(strFolder.size());
    FUZZ_CHECK(strOutput.starts_with(strFolder + strPrefix));
    FUZZ_CHECK(strOutput.ends_with(strExtension));
    FUZZ_CHECK(strOutput.size() ==
               strFolder.size() + strPrefix.size() + strName.size() + strSuffix.size() + strExtension.size());
    const std::size_t nDot = strName.find('.');
    const std::string strBase = nDot == std::string::npos || nDot == 0 ? strName : strName.substr(0, nDot);
    FUZZ_CHECK(strOutput.compare(strFolder.size() + strPrefix.size(), strBase.size() + strSuffix.size(),
                                 strBase + strSuffix) == 0);
    return 0;
}
