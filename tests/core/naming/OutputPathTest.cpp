#include "OutputTemplate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <unistd.h>
#include <utility>

namespace brasko {
namespace {

struct SNamingCase
{
    const char* pszInput;
    const char* pszPrefix;
    const char* pszSuffix;
    const char* pszExtension;
    const char* pszExpected;
};

void PrintTo(const SNamingCase& c, std::ostream* pOut)
{
    *pOut << c.pszInput << " [" << c.pszPrefix << "|" << c.pszSuffix << "|" << c.pszExtension << "]";
}

class BuildOutputPathTable : public ::testing::TestWithParam<SNamingCase>
{
};

TEST_P(BuildOutputPathTable, BuildOutputPath_FollowsTemplate)
{
    const SNamingCase& c = GetParam();
    const SOutputTemplate outputTemplate{c.pszPrefix, c.pszSuffix, c.pszExtension};
    EXPECT_EQ(outputTemplate.BuildOutputPath(c.pszInput), c.pszExpected);
}

INSTANTIATE_TEST_SUITE_P(
    Naming, BuildOutputPathTable,
    ::testing::Values(SNamingCase{"/daten/report.xls", "e_", "", "", "/daten/e_report.xls"},
                      SNamingCase{"/daten/report.xls", "", "_plain", "", "/daten/report_plain.xls"},
                      SNamingCase{"/daten/report.xls", "", "", ".txt", "/daten/report.xls.txt"},
                      SNamingCase{"/daten/report.xls", "", "", "txt", "/daten/report.xlstxt"},
                      // Splits at the first dot of the name.
                      SNamingCase{"/daten/archive.tar.gz", "", "_x", "", "/daten/archive_x.tar.gz"},
                      // A leading dot does not start an extension, and no later dot counts then.
                      SNamingCase{"/home/u/.profile", "e_", "", "", "/home/u/e_.profile"},
                      SNamingCase{"/home/u/.profile.bak", "", "_x", "", "/home/u/.profile.bak_x"},
                      SNamingCase{"/daten/README", "p_", "_s", ".e", "/daten/p_README_s.e"},
                      SNamingCase{"/report.xls", "e_", "", "", "/e_report.xls"},
                      // Dots in folder names play no part.
                      SNamingCase{"/daten.alt/report", "", "_x", "", "/daten.alt/report_x"},
                      // Blanks stay; nothing is trimmed.
                      SNamingCase{"/daten/report.xls", " ", "", "", "/daten/ report.xls"},
                      // "." and ".." and doubled separators are folded lexically.
                      SNamingCase{"/daten/./alt/../report.xls", "e_", "", "", "/daten/e_report.xls"},
                      SNamingCase{"//daten//report.xls", "e_", "", "", "/daten/e_report.xls"},
                      SNamingCase{"/../report.xls", "e_", "", "", "/e_report.xls"},
                      // Template fields may hold separators; the result is not folded again.
                      SNamingCase{"/daten/report.xls", "../out/", "", "", "/daten/../out/report.xls"},
                      // Non-ASCII names pass through as bytes.
                      SNamingCase{"/daten/Bücher.übersicht.xls", "e_", "", "",
                                  "/daten/e_Bücher.übersicht.xls"}));

// Paths below a folder the user chose keep their folders as given, nothing resolved against the current
// directory; only the name follows the template.
TEST(BuildRelativeOutputPath, NamesOnlyTheLastComponent)
{
    const SOutputTemplate outputTemplate{"e_", "_s", ".txt"};
    for (const auto& [pszInput, pszExpected] : {
             std::pair{"bericht.xls", "e_bericht_s.xls.txt"},
             std::pair{"a/b.d/bericht.tar.gz", "a/b.d/e_bericht_s.tar.gz.txt"},
             std::pair{"a/.profile", "a/e_.profile_s.txt"},
             std::pair{"../x/./bericht", "../x/./e_bericht_s.txt"},
             std::pair{"Ordner/Bücher.xls", "Ordner/e_Bücher_s.xls.txt"},
         }) {
        EXPECT_EQ(outputTemplate.BuildRelativeOutputPath(pszInput), pszExpected) << pszInput;
    }
}

TEST(BuildOutputPath, ResolvesRelativePathAgainstCurrentDirectory)
{
    const std::string strCwd = std::filesystem::current_path().string();
    const std::string strFolder = strCwd == "/" ? "/" : strCwd + "/";
    const SOutputTemplate outputTemplate{"e_", "", ""};
    EXPECT_EQ(outputTemplate.BuildOutputPath("report.xls"), strFolder + "e_report.xls");
    EXPECT_EQ(outputTemplate.BuildOutputPath("./sub/../report.xls"), strFolder + "e_report.xls");
}

TEST(BuildOutputPath, ResolvesParentOfCurrentDirectory)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path("/usr/share");
    const SOutputTemplate outputTemplate{"", "_d", ""};
    EXPECT_EQ(outputTemplate.BuildOutputPath("../lib/a.b"), "/usr/lib/a_d.b");
    std::filesystem::current_path(previous);
}

// "." and ".." and repeated separators fold lexically; ".." does not climb above the root; a path naming a
// folder keeps its trailing separator.
TEST(AbsolutePath, FoldsLexically)
{
    for (const auto& [pszPath, pszExpected] : {
             std::pair{"/a//b/./c", "/a/b/c"},
             std::pair{"/a/b/../../c", "/c"},
             std::pair{"/../../a", "/a"},
             std::pair{"/a/b/..", "/a/"},
             std::pair{"/a/.", "/a/"},
             std::pair{"/a/b/", "/a/b/"},
             std::pair{"/..", "/"},
             std::pair{"/", "/"},
             std::pair{"/a/...", "/a/..."},
         }) {
        EXPECT_EQ(AbsolutePath(pszPath), pszExpected) << pszPath;
    }
}

} // namespace
} // namespace brasko
