#include "Utf8.h"

#include <gtest/gtest.h>

namespace brasko {
namespace {

TEST(Utf8, FirstCharacters_CountsCodePoints)
{
    EXPECT_EQ(utf8::FirstCharacters("Müller", 2), "Mü");
    EXPECT_EQ(utf8::FirstCharacters("ab", 5), "ab");
    EXPECT_EQ(utf8::CountCharacters("Maß€𝄞\x80"), 6U);
}

} // namespace
} // namespace brasko
