// The start-up in this process: InitInstance runs the main window modally and returns once it has closed; the
// Help button opens one help window beside it.
#include "app/PhotoMoverApp.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QGuiApplication>
#include <QPointer>
#include <QScrollBar>
#include <QTextBrowser>

#include "resources/ResourceIds.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

int VisibleWindows(bool helpOnly = false) {
    int shown = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        shown += widget->isVisible() && (!helpOnly || qobject_cast<QTextBrowser*>(widget)) ? 1 : 0;
    }
    return shown;
}

class PhotoMoverAppTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScriptedPrompts prompts;
    ModalWatchdog watchdog{20000};

    // Runs the start-up; `whileRunning` is called once the main window is up in its modal run and must close
    // it. Afterwards the window and everything it opened are gone.
    void RunStartUp(const std::function<void(CPhotoMoverApp&, CPhotoMoverDlg*)>& whileRunning) {
        CPhotoMoverApp app(TransferPasses{}, SettingsFile(dir / "tovaro.ini"), &prompts);
        EXPECT_EQ(app.MainWindow(), nullptr);
        QPointer<CPhotoMoverDlg> seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            CPhotoMoverDlg* window = app.MainWindow();
            if (window != nullptr && QApplication::activeModalWidget() == window &&
                window->isActiveWindow()) {
                poll.stop();
                seen = window;
                whileRunning(app, window);
            }
        });
        poll.start(10);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_TRUE(seen.isNull() && !poll.isActive());  // shown, then destroyed before InitInstance returned
        EXPECT_EQ(app.MainWindow(), nullptr);
        EXPECT_EQ(app.HelpWindow(), nullptr);
        EXPECT_EQ(VisibleWindows(), 0);
        EXPECT_FALSE(prompts.Asked());
        EXPECT_FALSE(watchdog.Fired());
    }
};

TEST_F(PhotoMoverAppTest, StartUpRunsTheWindowModallyAndEndsOnceItCloses) {
    const std::function<void(CPhotoMoverDlg*)> closes[] = {
        [](CPhotoMoverDlg* w) {
            QTest::mouseClick(w->findChild<QAbstractButton*>("IDCANCEL"), Qt::LeftButton);
        },
        [](CPhotoMoverDlg* w) { w->OnSysCommand(SC_CLOSE, 0); },
    };
    for (const auto& close : closes) {
        int finished = -1;
        RunStartUp([&](CPhotoMoverApp&, CPhotoMoverDlg* window) {
            QObject::connect(window, &QDialog::finished, [&](int r) { finished = r; });
            EXPECT_EQ(window->parentWidget(), nullptr);
            EXPECT_EQ(window->windowTitle(), "Tovaro Utility");
            EXPECT_EQ(QGuiApplication::desktopFileName(), "tovaro");
            EXPECT_FALSE(QApplication::windowIcon().isNull());
            QTest::mouseClick(window->findChild<QAbstractButton*>("IDOK"), Qt::LeftButton);  // leaves it up
            EXPECT_EQ(QApplication::activeModalWidget(), window);
            close(window);
        });
        EXPECT_EQ(finished, QDialog::Rejected);
    }
}

TEST_F(PhotoMoverAppTest, HelpOpensOneHelpWindowThatClosesWithTheMainWindow) {
    QPointer<QWidget> help;
    RunStartUp([&](CPhotoMoverApp& app, CPhotoMoverDlg* window) {
        auto* helpButton = window->findChild<QAbstractButton*>("ID_HELP");
        QTest::mouseClick(helpButton, Qt::LeftButton);
        auto* browser = qobject_cast<QTextBrowser*>(help = app.HelpWindow());
        ASSERT_NE(browser, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(browser));
        EXPECT_EQ(browser->windowTitle(), "Tovaro Help");
        EXPECT_TRUE(browser->toPlainText().contains("Naming options"));
        // The main window's modal run leaves the help window usable: it takes keys from the desktop.
        const int top = browser->verticalScrollBar()->value();
        QTest::keyClick(browser->windowHandle(), Qt::Key_PageDown);
        EXPECT_GT(browser->verticalScrollBar()->value(), top);

        // A second Help brings the same window forward.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::mouseClick(helpButton, Qt::LeftButton);
        EXPECT_EQ(app.HelpWindow(), browser);
        EXPECT_TRUE(QTest::qWaitForWindowActive(browser));
        EXPECT_EQ(VisibleWindows(true), 1);

        // Closed by the user, it opens again on the next Help, and goes with the main window.
        browser->close();
        EXPECT_EQ(app.HelpWindow(), nullptr);
        QTest::mouseClick(helpButton, Qt::LeftButton);
        ASSERT_NE(help = app.HelpWindow(), nullptr);
        EXPECT_TRUE(help->isVisible());
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_TRUE(help.isNull());
}

}  // namespace
