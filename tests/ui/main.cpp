#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[])
{
    // Test discovery runs this binary outside ctest's environment, so the platform is chosen here.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt's file dialog keeps its state (column widths, folders visited) in the user's configuration: the
    // tests neither read the user's nor leave theirs behind.
    const QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    // Closing a test's last window must not end the event loops of the tests after it.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
