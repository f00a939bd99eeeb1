#include "QuotedNames.h"

namespace brasko {

namespace {

constexpr QChar kQuote = u'"';
constexpr QChar kSeparator = u'/';

} // namespace

QStringList SplitQuotedNames(const QString& strText)
{
    if (!strText.contains(kQuote)) {
        if (strText.trimmed().isEmpty())
            return {};
        return {strText};
    }
    QStringList names;
    qsizetype nPos = 0;
    while (nPos < strText.size()) {
        const qsizetype nOpen = strText.indexOf(kQuote, nPos);
        const QString strOutside = strText.mid(nPos, nOpen < 0 ? -1 : nOpen - nPos).trimmed();
        if (!strOutside.isEmpty())
            names.append(strOutside);
        if (nOpen < 0)
            break;
        const qsizetype nClose = strText.indexOf(kQuote, nOpen + 1);
        const QString strInside = strText.mid(nOpen + 1, nClose < 0 ? -1 : nClose - nOpen - 1);
        if (!strInside.isEmpty())
            names.append(strInside);
        if (nClose < 0)
            break;
        nPos = nClose + 1;
    }
    return names;
}

QString JoinFolderAndName(const QString& strFolder, const QString& strName)
{
    if (strName.startsWith(kSeparator) || strFolder.isEmpty())
        return strName;
    if (strFolder.endsWith(kSeparator))
        return strFolder + strName;
    return strFolder + kSeparator + strName;
}

} // namespace brasko
