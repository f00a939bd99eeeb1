#include "BatchInputs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace brasko {
namespace {

namespace fs = std::filesystem;
using test::CTempDir;
using test::WriteFileBytes;

// Every regular file below a folder argument, bytewise sorted per folder with subfolders in their place;
// links to files taken, links to folders, pipes and the batch's temporary files left out.
TEST(FolderWalk, AddInput_RecursiveListsRegularFilesInBytewiseOrder)
{
    CTempDir dir;
    const std::string strRoot = dir / "daten";
    for (const char* pszName :
         {"b.bin", "B.bin", "a b.bin", "\xc3\xa4.bin", ".versteckt", "2019/z.bin", "2019/a/tief.bin",
          "2019.bin", "ordner/leer/x", ".b.bin.Ab3dE6gH.tmp", "2019/.a.bin.00000000.tmp"}) {
        fs::create_directories(fs::path(strRoot + "/" + pszName).parent_path());
        WriteFileBytes(strRoot + "/" + pszName, "x");
    }
    fs::create_symlink(strRoot + "/b.bin", strRoot + "/link-datei");
    fs::create_symlink(strRoot + "/2019", strRoot + "/link-ordner");
    fs::create_symlink(strRoot + "/fehlt", strRoot + "/link-ins-leere");
    ASSERT_EQ(::mkfifo((strRoot + "/rohr").c_str(), 0600), 0);
    // Not a temporary name of the batch: the random part is too short.
    WriteFileBytes(strRoot + "/.c.bin.abc.tmp", "x");

    SInputList list;
    AddInput(strRoot + "/", true, list);
    AddInput(dir / "einzeln.bin", true, list); // missing: added as it is
    const std::string r = strRoot + "/";
    EXPECT_EQ(list.paths, (std::vector<std::string>{
                              r + ".c.bin.abc.tmp", r + ".versteckt", r + "2019/a/tief.bin", r + "2019/z.bin",
                              r + "2019.bin", r + "B.bin", r + "a b.bin", r + "b.bin", r + "link-datei",
                              r + "ordner/leer/x", r + "\xc3\xa4.bin", dir / "einzeln.bin"}));
    EXPECT_EQ(list.subFolders, (std::vector<std::string>{"", "", "2019/a/", "2019/", "", "", "", "", "",
                                                         "ordner/leer/", "", ""}));
    EXPECT_TRUE(list.unreadableFolders.empty());
}

// Without recursion a folder is added as it is (the batch then reports it), and so is any other argument.
TEST(FolderWalk, AddInput_WithoutRecursionKeepsArguments)
{
    CTempDir dir;
    fs::create_directory(dir / "ordner");
    WriteFileBytes(dir / "ordner/a.bin", "x");
    SInputList list;
    for (const std::string& strPath : {dir / "ordner", std::string("rel/x.bin")})
        AddInput(strPath, false, list);
    EXPECT_EQ(list.paths, (std::vector<std::string>{dir / "ordner", "rel/x.bin"}));
    EXPECT_EQ(list.subFolders, (std::vector<std::string>{"", ""}));
}

} // namespace
} // namespace brasko
