#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[])
{
    // Test discovery runs this binary outside ctest's environment, so the platform is chosen here.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // Closing a test's last window must not end the event loops of the tests after it.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
