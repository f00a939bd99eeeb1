#include "TextConversion.h"

#include <QFile>

#include <algorithm>
#include <array>

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

CSecureBuffer ToSecureUtf8(const QString& strText)
{
    // A UTF-16 unit takes at most three bytes, a surrogate pair four.
    CSecureBuffer buffer(std::max<std::size_t>(1, static_cast<std::size_t>(strText.size()) * 3));
    std::array<unsigned char, 4> bytes{};
    for (qsizetype i = 0; i < strText.size(); ++i) {
        char32_t c = strText.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < strText.size() && strText.at(i + 1).isLowSurrogate())
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), strText.at(++i).unicode());
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter; // a lone half of a pair, as toUtf8() converts it
        std::size_t nBytes = 0;
        if (c < 0x80) {
            bytes[nBytes++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            bytes[nBytes++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[nBytes++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            bytes[nBytes++] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[nBytes++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
        buffer.Append(bytes.data(), nBytes);
    }
    SecureWipe(bytes.data(), bytes.size());
    return buffer;
}

QString PlainToolTip(const QString& strText)
{
    return QStringLiteral("<p style=\"white-space:pre\">") + strText.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace brasko::text
