// The program's start-up and the help, run in this process on real widgets: InitInstance shows the main
// window modally and returns once it has closed; the Help button opens one help window beside it.
#include "app/PhotoMoverApp.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QGuiApplication>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <functional>
#include <string>

#include "app/UserPrompts.h"
#include "resources/ResourceIds.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

class NoPrompts : public UserPrompts {
  public:
    int asked = 0;
    int MessageBox(QWidget*, const std::string&, const std::string&, unsigned) override {
        ++asked;
        return kAnswerNo;
    }
    std::string ChooseFolder(QWidget*, const std::string&) override {
        ++asked;
        return {};
    }
};

std::vector<QWidget*> VisibleWindows() {
    std::vector<QWidget*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            shown.push_back(widget);
        }
    }
    return shown;
}

class PhotoMoverAppTest : public ::testing::Test {
  protected:
    TempDir dir;
    NoPrompts prompts;
    std::unique_ptr<CPhotoMoverApp> app =
        std::make_unique<CPhotoMoverApp>(TransferPasses{}, SettingsFile(dir / "tovaro.ini"), &prompts);
    ModalWatchdog watchdog{20000};

    void TearDown() override {
        EXPECT_EQ(prompts.asked, 0);
        EXPECT_FALSE(watchdog.Fired());
    }

    // Runs the start-up; `whileRunning` is called once the main window is up in its modal run, and must
    // close it. Returns what InitInstance returned; `ran` tells whether `whileRunning` was called.
    bool RunStartUp(const std::function<void(CPhotoMoverDlg*)>& whileRunning, bool* ran) {
        *ran = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            CPhotoMoverDlg* window = app->MainWindow();
            if (window == nullptr || QApplication::activeModalWidget() != window ||
                !window->isActiveWindow()) {
                return;
            }
            poll.stop();
            *ran = true;
            whileRunning(window);
        });
        poll.start(10);
        return app->InitInstance();
    }
};

TEST_F(PhotoMoverAppTest, StartUpRunsTheWindowModallyAndEndsOnceItCloses) {
    const struct {
        const char* name;
        std::function<void(CPhotoMoverDlg*)> close;
    } cases[] = {
        {"Esc", [](CPhotoMoverDlg* w) { QTest::keyClick(w->focusWidget(), Qt::Key_Escape); }},
        {"Cancel",
         [](CPhotoMoverDlg* w) {
             QTest::mouseClick(w->findChild<QAbstractButton*>("IDCANCEL"), Qt::LeftButton);
         }},
        {"close button", [](CPhotoMoverDlg* w) { w->close(); }},
        {"Close of the window menu", [](CPhotoMoverDlg* w) { w->OnSysCommand(SC_CLOSE, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app = std::make_unique<CPhotoMoverApp>(TransferPasses{}, SettingsFile(dir / "tovaro.ini"), &prompts);
        EXPECT_EQ(app->MainWindow(), nullptr);
        QPointer<CPhotoMoverDlg> seen;
        int finished = -1;
        bool ran = false;
        const bool result = RunStartUp(
            [&](CPhotoMoverDlg* window) {
                seen = window;
                QObject::connect(window, &QDialog::finished, [&](int r) { finished = r; });
                EXPECT_EQ(window->parentWidget(), nullptr);
                EXPECT_EQ(window->windowTitle(), "Tovaro Utility");
                EXPECT_EQ(QGuiApplication::desktopFileName(), "tovaro");
                EXPECT_FALSE(QApplication::windowIcon().isNull());
                // OK runs a transfer (none here) and leaves the window up.
                QTest::mouseClick(window->findChild<QAbstractButton*>("IDOK"), Qt::LeftButton);
                EXPECT_EQ(QApplication::activeModalWidget(), window);
                c.close(window);
            },
            &ran);
        ASSERT_TRUE(ran);
        EXPECT_FALSE(result);
        EXPECT_EQ(finished, QDialog::Rejected);
        EXPECT_TRUE(seen.isNull());  // destroyed before InitInstance returned
        EXPECT_EQ(app->MainWindow(), nullptr);
        EXPECT_TRUE(VisibleWindows().empty());
    }
}

TEST_F(PhotoMoverAppTest, HelpOpensOneHelpWindowThatClosesWithTheMainWindow) {
    QPointer<QWidget> help;
    bool ran = false;
    const bool result = RunStartUp(
        [&](CPhotoMoverDlg* window) {
            auto* helpButton = window->findChild<QAbstractButton*>("ID_HELP");
            QTest::mouseClick(helpButton, Qt::LeftButton);
            help = app->HelpWindow();
            ASSERT_NE(help, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowActive(help));
            auto* browser = qobject_cast<QTextBrowser*>(help.data());
            ASSERT_NE(browser, nullptr);
            EXPECT_TRUE(help->isWindow());
            EXPECT_EQ(help->windowTitle(), "Tovaro Help");
            EXPECT_TRUE(browser->toPlainText().contains("Naming options"));
            EXPECT_TRUE(window->isVisible());

            // The main window's modal run leaves the help window usable: it takes keys from the desktop.
            const int top = browser->verticalScrollBar()->value();
            QTest::keyClick(help->windowHandle(), Qt::Key_PageDown);
            EXPECT_GT(browser->verticalScrollBar()->value(), top);

            // A second Help brings the same window forward; there is never a second one.
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window));
            QTest::mouseClick(helpButton, Qt::LeftButton);
            EXPECT_EQ(app->HelpWindow(), help.data());
            EXPECT_TRUE(QTest::qWaitForWindowActive(help));
            int browsers = 0;
            for (QWidget* shown : VisibleWindows()) {
                browsers += qobject_cast<QTextBrowser*>(shown) != nullptr ? 1 : 0;
            }
            EXPECT_EQ(browsers, 1);

            // Closed by the user, it opens again on the next Help.
            help->close();
            EXPECT_EQ(app->HelpWindow(), nullptr);
            QTest::mouseClick(helpButton, Qt::LeftButton);
            ASSERT_NE(app->HelpWindow(), nullptr);
            EXPECT_TRUE(app->HelpWindow()->isVisible());
            help = app->HelpWindow();

            QTest::keyClick(window, Qt::Key_Escape);
        },
        &ran);
    ASSERT_TRUE(ran);
    EXPECT_FALSE(result);
    EXPECT_TRUE(help.isNull());  // closed and gone with the main window
    EXPECT_EQ(app->HelpWindow(), nullptr);
    EXPECT_TRUE(VisibleWindows().empty());
}

}  // namespace
