// Entry point of the GUI test executables: widgets need a QApplication, and
// test discovery runs the binary outside ctest's environment, so the
// offscreen platform is chosen here when nothing else was asked for.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
