// The main of the test programs that use real widgets: one QApplication for all tests. Without a display the
// widgets are drawn off screen; a platform the user chose (QT_QPA_PLATFORM=xcb, to watch) is kept.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
