#include "BatchPlan.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CTempDir;
using test::WriteFileBytes;
using Verdicts = std::vector<EPlanVerdict>;

constexpr EPlanVerdict kDecrypt = EPlanVerdict::Decrypt;
constexpr EPlanVerdict kDuplicate = EPlanVerdict::DuplicateOutput;
constexpr EPlanVerdict kReplaces = EPlanVerdict::ReplacesInput;

// One file spelled two ways is caught by the folder's identity, while no output exists yet: through "..",
// through links to a folder, through the output folder and a link below it, and an output in an input's
// place. A folder that is not there compares by its spelling. None of the shared outputs exists.
TEST(BatchPlan, PlanBatch_OneOutputFileHoweverSpelled)
{
    CTempDir dir;
    for (const char* pszFolder : {"a", "b", "c", "out/real"})
        fs::create_directories(dir / pszFolder);
    for (const char* pszFile : {"a/f.bin", "b/f.bin", "b/e_f.bin", "c/g.bin", "out/real/e_f.bin"})
        WriteFileBytes(dir / pszFile, "12345678");
    fs::create_directory_symlink(dir / "out/real", dir / "a/o");
    fs::create_directory_symlink(dir / "out/real", dir / "b/o");
    fs::create_directory_symlink(".", dir / "out/same");
    struct SCase
    {
        const char* pszWhat;
        std::vector<std::string> paths;
        std::string strPrefix;
        std::string strOutputDir;
        std::vector<std::string> subFolders;
        Verdicts verdicts;
    };
    const std::vector<SCase> cases = {
        {"distinct outputs", {dir / "a/f.bin", dir / "c/g.bin"}, "e_", "", {}, {kDecrypt, kDecrypt}},
        {"through ..",
         {dir / "a/f.bin", dir / "b/f.bin", dir / "c/g.bin"},
         "../",
         "",
         {},
         {kDuplicate, kDuplicate, kDecrypt}},
        {"through links to one folder",
         {dir / "a/f.bin", dir / "b/f.bin"},
         "o/",
         "",
         {},
         {kDuplicate, kDuplicate}},
        {"output folder and a link below it",
         {dir / "a/f.bin", dir / "b/f.bin"},
         "e_",
         dir / "out",
         {"", "same/"},
         {kDuplicate, kDuplicate}},
        {"output folder spelled with ..",
         {dir / "a/f.bin", dir / "b/f.bin"},
         "n_",
         dir / "out/real/..",
         {"real/", "same/real/"},
         {kDuplicate, kDuplicate}},
        {"an input's place through ..",
         {dir / "a/f.bin", dir / "b/e_f.bin"},
         "../b/e_",
         "",
         {},
         {kReplaces, kDecrypt}},
        {"an input's place through the output folder",
         {dir / "a/f.bin", dir / "out/real/e_f.bin"},
         "e_",
         dir / "a/o",
         {},
         {kReplaces, kDecrypt}},
        {"a missing folder by its spelling",
         {dir / "gone/f.bin", dir / "gone/./f.bin", dir / "gone/x/../f.bin"},
         "e_",
         "",
         {},
         {kDuplicate, kDuplicate, kDuplicate}},
        {"missing folders spelled apart",
         {dir / "gone/f.bin", dir / "gone2/f.bin"},
         "../",
         "",
         {},
         {kDecrypt, kDecrypt}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SBatchRequest request;
        request.strPrefix = c.strPrefix;
        request.paths = c.paths;
        request.strOutputDir = c.strOutputDir;
        request.subFolders = c.subFolders;
        const SBatchPlan plan = PlanBatch(request);
        EXPECT_EQ(plan.verdicts, c.verdicts);
        EXPECT_EQ(plan.nRefused,
                  static_cast<std::size_t>(std::count_if(c.verdicts.begin(), c.verdicts.end(),
                                                         [](EPlanVerdict v) { return v != kDecrypt; })));
    }
}

// Outputs that exist already are found in a folder that is to hold many outputs, which the plan reads once
// instead of asking for each name: one that is a link to an input, and two names of one file. The names not
// found there are marked free, a link to nothing at a name among them not; a folder of few outputs is not
// read, and none of its names counts as free.
TEST(BatchPlan, PlanBatch_ExistingOutputsInAFolderOfManyOutputs)
{
    CTempDir dir;
    fs::create_directories(dir / "x");
    fs::create_directories(dir / "out");
    SBatchRequest request;
    request.strPrefix = "e_";
    request.strOutputDir = dir / "out";
    for (int i = 0; i < 12; ++i) {
        request.paths.push_back(dir / ("x/f" + std::to_string(i) + ".bin"));
        WriteFileBytes(request.paths.back(), "12345678");
    }
    fs::create_symlink(dir / "x/f5.bin", dir / "out/e_f3.bin");
    WriteFileBytes(dir / "out/e_f6.bin", "alt");
    fs::create_hard_link(dir / "out/e_f6.bin", dir / "out/e_f7.bin");
    Verdicts expected(request.paths.size(), kDecrypt);
    expected[3] = kReplaces;
    expected[6] = kDuplicate;
    expected[7] = kDuplicate;
    fs::create_symlink(dir / "nowhere", dir / "out/e_f9.bin");
    const SBatchPlan plan = PlanBatch(request);
    EXPECT_EQ(plan.verdicts, expected);
    std::vector<bool> freeNames(request.paths.size(), true);
    freeNames[3] = freeNames[6] = freeNames[7] = freeNames[9] = false;
    EXPECT_EQ(plan.freeOutputNames, freeNames);

    request.paths.resize(3);
    EXPECT_EQ(PlanBatch(request).freeOutputNames, std::vector<bool>(3, false));
}

} // namespace
} // namespace brasko
