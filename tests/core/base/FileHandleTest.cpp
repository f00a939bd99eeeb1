#include "FileHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace brasko {
namespace {

using std::chrono::milliseconds;

// A read from a pipe nobody writes to waits as a read from a hung file server does. A wake alone does not
// end it: it goes on and takes what comes. Once a stop is asked for, the next wake ends it with EINTR.
TEST(FileHandle, ReadFully_WaitingReadEndsOnWakeOnceStopAsked)
{
    const milliseconds kSettle(50);    // for the reader to reach its read
    const milliseconds kWakeEvery(10); // a wake that comes before the read starts is lost
    const milliseconds kPromptly(10000);
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const CFileHandle readEnd(fds[0]);
    const CFileHandle writeEnd(fds[1]);
    std::atomic<bool> bStop{false};
    std::atomic<bool> bDone{false};
    ssize_t nRead = 0;
    int nError = 0;
    std::thread reader([&] {
        char buffer[4];
        nRead = ReadFully(readEnd.Get(), buffer, sizeof buffer, [&] { return bStop.load(); });
        nError = errno;
        bDone = true;
    });
    const auto WakeFor = [&](milliseconds duration) {
        for (const auto end = std::chrono::steady_clock::now() + duration;
             !bDone && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(kWakeEvery))
            WakeBlockedReads();
    };

    WakeFor(kSettle);
    ASSERT_EQ(::write(writeEnd.Get(), "ab", 2), 2);
    WakeFor(kSettle);
    EXPECT_FALSE(bDone); // two of four bytes
    bStop = true;
    WakeFor(kPromptly);
    EXPECT_TRUE(bDone);
    if (!bDone) {
        EXPECT_EQ(::write(writeEnd.Get(), "cd", 2), 2); // the read is complete then, and the thread ends
    }
    reader.join();
    EXPECT_EQ(nRead, -1);
    EXPECT_EQ(nError, EINTR);
}

} // namespace
} // namespace brasko
