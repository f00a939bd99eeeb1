#include "TemporaryName.h"

#include "AtomicOutputFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace brasko {
namespace {

using test::CTempDir;

TEST(FolderWalk, IsBatchTemporaryName_MatchesOnlyTheBatchsPattern)
{
    for (const auto& [pszName, bTemp] :
         std::vector<std::pair<const char*, bool>>{{".a.bin.Ab3dE6gH.tmp", true},
                                                   {".e_bericht.xls.00000000.tmp", true},
                                                   {"a.bin.Ab3dE6gH.tmp", false},
                                                   {"..Ab3dE6gH.tmp", false},
                                                   {".a.bin.Ab3d-6gH.tmp", false},
                                                   {".a.bin.Ab3dE6gH.tmp.bin", false},
                                                   {".tmp", false}}) {
        EXPECT_EQ(IsBatchTemporaryName(pszName), bTemp) << pszName;
    }
}

// The folder walk leaves out exactly the temporary files the output file makes: a named temporary file,
// seen in its folder before Commit(), has a name IsBatchTemporaryName accepts, also where a long target name
// is cut short in it; the finished output's name is not one.
TEST(TemporaryName, IsBatchTemporaryName_AcceptsTheNamesTheOutputFileMakes)
{
    const CTempDir dir;
    for (const std::string& strTarget : {std::string("e_bericht.xls"), std::string(250, 'x')}) {
        CAtomicOutputFile output(dir / strTarget, {}, ETemporaryFile::Named);
        ASSERT_EQ(output.Open(), 0);
        const std::vector<std::string> names = dir.List();
        ASSERT_EQ(names.size(), 1U);
        EXPECT_TRUE(IsBatchTemporaryName(names[0])) << names[0];
        ASSERT_EQ(output.Commit(), 0);
        EXPECT_EQ(dir.List(), std::vector<std::string>{strTarget});
        EXPECT_FALSE(IsBatchTemporaryName(strTarget));
        std::filesystem::remove(dir / strTarget);
    }
}

} // namespace
} // namespace brasko
