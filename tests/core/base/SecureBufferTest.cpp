#include "SecureBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace brasko {
namespace {

std::string Held(const CSecureBuffer& buffer, std::size_t nBytes)
{
    return {reinterpret_cast<const char*>(buffer.Data()), nBytes};
}

// A secret never grows beyond its capacity, and what a smaller size drops is wiped at once, in either kind
// of memory; a moved buffer leaves nothing behind in the old one.
TEST(SecureBuffer, KeepsItsCapacityAndWipesWhatItDrops)
{
    for (const EMemoryLock lock : {EMemoryLock::IfAllowed, EMemoryLock::None}) {
        SCOPED_TRACE(lock == EMemoryLock::None ? "heap" : "own pages");
        CSecureBuffer buffer(10, lock);
        EXPECT_EQ(buffer.Append("geheim", 6), 6U);
        EXPECT_EQ(buffer.Append("passwort", 8), 4U);
        EXPECT_EQ(buffer.View(), "geheimpass");
        buffer.Resize(3);
        EXPECT_EQ(buffer.View(), "geh");
        EXPECT_EQ(Held(buffer, 10), std::string("geh") + std::string(7, '\0'));
        buffer.Resize(20);
        EXPECT_EQ(buffer.Size(), 10U);

        CSecureBuffer moved(std::move(buffer));
        EXPECT_EQ(moved.Size(), 10U);
        EXPECT_EQ(buffer.Data(),
                  nullptr); // NOLINT(bugprone-use-after-move): the moved-from state is the point
        EXPECT_EQ(buffer.Capacity(), 0U);
    }
}

} // namespace
} // namespace brasko
