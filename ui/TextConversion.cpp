#include "TextConversion.h"

#include <QFile>

namespace brasko::text {

std::string PathToCore(const QString& strPath)
{
    return QFile::encodeName(strPath).toStdString();
}

QString PathFromCore(const std::string& strPath)
{
    return QFile::decodeName(QByteArray::fromStdString(strPath));
}

std::string ToCore(const QString& strText)
{
    return strText.toUtf8().toStdString();
}

QString FromCore(const std::string& strText)
{
    return QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
}

QString PlainToolTip(const QString& strText)
{
    return QStringLiteral("<p style=\"white-space:pre\">") + strText.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace brasko::text
