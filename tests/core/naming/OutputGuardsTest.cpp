#include "OutputGuards.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brasko {
namespace {

// The guards on names alone: an output that is an input's path, two entries with one output. Paths that
// could not be formed (empty) match nothing, and a path matches only as a whole.
TEST(OutputGuards, FindOutputsNamingInputsAndSharedOutputs_MatchWholePathsOnly)
{
    const std::vector<std::string> inputs = {"/d/a", "/d/e_a", "", "/d/b", "/d/c"};
    const std::vector<std::string> outputs = {"/d/e_a", "/d/e_e_a", "", "/d/x", "/d/x"};
    EXPECT_EQ(FindOutputsNamingInputs(inputs, outputs),
              (std::vector<bool>{true, false, false, false, false}));
    EXPECT_EQ(FindSharedOutputs(outputs), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(FindOutputsNamingInputs({"/d/a/"}, {"/d/a"}), std::vector<bool>{false});
    EXPECT_EQ(FindSharedOutputs({"", ""}), (std::vector<bool>{false, false}));
    // Relative paths below one folder, as the web page gives them.
    EXPECT_EQ(FindOutputsNamingInputs({"a/x", "e_x", "b/x"}, {"a/e_x", "e_e_x", "b/e_x"}),
              (std::vector<bool>{false, false, false}));
    EXPECT_EQ(FindOutputsNamingInputs({"a/x", "a/e_x"}, {"a/e_x", "a/e_e_x"}),
              (std::vector<bool>{true, false}));
    EXPECT_EQ(FindSharedOutputs({"a/e_x", "e_x", "a/e_x"}), (std::vector<bool>{true, false, true}));
}

} // namespace
} // namespace brasko
