#include "ui/QuotedNames.h"

#include <gtest/gtest.h>

namespace brasko {
namespace {

TEST(QuotedNames, SplitQuotedNames_TakesEachNameOnce)
{
    const struct
    {
        const char* pszText;
        QStringList expected;
    } cases[] = {
        {"report.xls", {QStringLiteral("report.xls")}},
        {"\"a.enc\" \"b.enc\"", {QStringLiteral("a.enc"), QStringLiteral("b.enc")}},
        {"\"only.enc\"", {QStringLiteral("only.enc")}},
        // Blanks inside a name belong to it; an unquoted name keeps its blanks too.
        {"\"my file.enc\" \"x\"", {QStringLiteral("my file.enc"), QStringLiteral("x")}},
        {"my file.enc", {QStringLiteral("my file.enc")}},
        {"  \"a\"    \"b\"  ", {QStringLiteral("a"), QStringLiteral("b")}},
        // Hand-typed forms: text between the quoted names, an unclosed quotation, empty quotes.
        {"\"a\" b \"c\"", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}},
        {"\"a\" \"b", {QStringLiteral("a"), QStringLiteral("b")}},
        {"\"\" \"a\"", {QStringLiteral("a")}},
        {"\"ä ö ü.enc\" \"ß\"", {QStringLiteral("ä ö ü.enc"), QStringLiteral("ß")}},
        {"", {}},
        {"   ", {}},
        {"\"\"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitQuotedNames(QString::fromUtf8(c.pszText)), c.expected) << c.pszText;
}

TEST(QuotedNames, JoinFolderAndName_OneSeparatorBetween)
{
    const struct
    {
        const char* pszFolder;
        const char* pszName;
        const char* pszPath;
    } cases[] = {
        {"/home/anna/daten", "report.xls", "/home/anna/daten/report.xls"},
        {"/", "report.xls", "/report.xls"},
        {"/home/anna/", "report.xls", "/home/anna/report.xls"},
        {"/home/anna", "/tmp/elsewhere.enc", "/tmp/elsewhere.enc"},
        {"/home/anna", "sub/x.enc", "/home/anna/sub/x.enc"},
        {"/home/daten.alt", "my file", "/home/daten.alt/my file"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinFolderAndName(QString::fromUtf8(c.pszFolder), QString::fromUtf8(c.pszName)),
                  QString::fromUtf8(c.pszPath))
            << c.pszFolder << " + " << c.pszName;
    }
}

} // namespace
} // namespace brasko
