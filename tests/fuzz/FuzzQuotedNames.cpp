// The splitting of the file dialog's name field into names, and the joining of a folder and a name.
#include "tests/fuzz/FuzzCheck.h"
#include "ui/QuotedNames.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider data(pData, nSize);
    const std::string strFolder = data.ConsumeRandomLengthString(64);
    const std::string strText = data.ConsumeRemainingBytesAsString();
    const QString text = QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));

    const QStringList names = brasko::SplitQuotedNames(text);
    qsizetype nTotal = 0;
    for (const QString& strName : names) {
        FUZZ_CHECK(!strName.isEmpty());
        FUZZ_CHECK(!strName.contains(u'"'));
        nTotal += strName.size();
    }
    FUZZ_CHECK(nTotal <= text.size());
    if (!text.contains(u'"'))
        FUZZ_CHECK(text.trimmed().isEmpty() ? names.isEmpty() : names == QStringList{text});
    // Each quoted pair gives its content back as one name.
    if (!text.isEmpty() && !text.contains(u'"'))
        FUZZ_CHECK(brasko::SplitQuotedNames(u'"' + text + u'"') == QStringList{text});

    const QString folder = QString::fromUtf8(strFolder.data(), static_cast<qsizetype>(strFolder.size()));
    for (const QString& strName : names) {
        const QString strJoined = brasko::JoinFolderAndName(folder, strName);
        FUZZ_CHECK(strJoined.endsWith(strName));
        FUZZ_CHECK(strName.startsWith(u'/') || folder.isEmpty() || strJoined.startsWith(folder));
    }
    return 0;
}
