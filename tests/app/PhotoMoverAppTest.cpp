// The start-up in this process: InitInstance runs the main window modally and returns once it has closed;
// Help and F1 open one help window beside it, in the desktop's colours.
#include "app/PhotoMoverApp.h"

#include <gtest/gtest.h>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>

#include "app/HelpWindow.h"
#include "tests/support/QtTestSupport.h"

using namespace testsupport;

namespace {

TEST(PhotoMoverAppTest, StartUpRunsTheWindowUntilItClosesAndTheHelpGoesWithIt) {
    ModalWatchdog watchdog;
    QApplication::setPalette(QPalette(Qt::darkCyan, Qt::black));  // a dark desktop
    CPhotoMoverApp app(TransferPasses{}, SettingsFile(""));       // no settings file
    QPointer<HelpWindow> help;
    QTimer::singleShot(100, [&] {
        CPhotoMoverDlg* window = app.MainWindow();
        ASSERT_TRUE(window != nullptr && QApplication::activeModalWidget() == window);
        EXPECT_EQ(QApplication::windowIcon().availableSizes().value(5), QSize(256, 256));  // the sixth size
        QTest::keyClick(window, Qt::Key_F1);  // as the Help button does
        ASSERT_TRUE((help = qobject_cast<HelpWindow*>(app.HelpWindow())) &&
                    QTest::qWaitForWindowActive(help));
        EXPECT_TRUE(window->screen()->availableGeometry().contains(help->frameGeometry()));
        QTest::keyClick(help->windowHandle(), Qt::Key_PageDown);  // usable beside the modal window
        EXPECT_GT(help->verticalScrollBar()->value(), 0);
        // The table headers are shaded in the palette's colours, readable on a dark desktop too.
        EXPECT_TRUE(help->document()->toHtml().contains(help->palette().alternateBase().color().name()));
        QTest::mouseClick(window->findChild<QWidget*>("ID_HELP"), Qt::LeftButton);
        EXPECT_EQ(app.HelpWindow(), help);  // the same help again
        QTest::mouseClick(window->findChild<QWidget*>("IDCANCEL"), Qt::LeftButton);
    });
    EXPECT_FALSE(app.InitInstance());
    QApplication::setPalette(QPalette());
    EXPECT_TRUE(app.MainWindow() == nullptr && help.isNull() && !watchdog.fired);
}

}  // namespace
