// Test entry point for tests that need Qt's event loop but no GUI (the
// engine's): a QCoreApplication, so that timers, queued signals and threads
// work, and no platform plug-in or display at all.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
