#include "app/ProgramArguments.h"

#include <gtest/gtest.h>

#include <vector>

namespace brasko {
namespace {

// Qt's own options are file names like any other; only the first "--" is left out.
TEST(ProgramArguments, FileArguments_EverythingButTheFirstSeparatorIsAFile)
{
    const struct
    {
        std::vector<const char*> args; // after the program's name
        QStringList files;
    } cases[] = {
        {{}, {}},
        {{"-platform", "offscreen", "-platformpluginpath", "p", "-style", "fusion", "-stylesheet", "x.qss",
          "-reverse"},
         {"-platform", "offscreen", "-platformpluginpath", "p", "-style", "fusion", "-stylesheet", "x.qss",
          "-reverse"}},
        {{"--", "-platform", "x"}, {"-platform", "x"}},
        {{"a", "--", "--", "-style"}, {"a", "--", "-style"}},
        {{"-", "--x", "ä\nb"}, {"-", "--x", QString::fromUtf8("ä\nb")}},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"brasko-decrypt"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back(nullptr);
        EXPECT_EQ(FileArguments(static_cast<int>(argv.size() - 1), argv.data()), c.files);
    }
}

} // namespace
} // namespace brasko
