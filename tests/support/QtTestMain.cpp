// One QApplication for all tests; off screen unless the user chose a platform (QT_QPA_PLATFORM=xcb, to
// watch). The tests have a home of their own, so that what Qt keeps for a user never reaches the real one.
#include <gtest/gtest.h>
#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
