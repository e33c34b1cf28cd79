#include "PooledThreadsAtExit.h"

#include <QApplication>
#include <gtest/gtest.h>

// Test main for windows: an off-screen application unless a display was chosen.
int main(int argc, char** argv) {
    PooledThreads::waitForThemAtExit();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
