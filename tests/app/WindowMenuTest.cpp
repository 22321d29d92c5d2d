// The main window's menu (its context menu) and the about box it opens, on real widgets.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "app/AboutDlg.h"
#include "app/PhotoMoverDlg.h"
#include "app/UserPrompts.h"
#include "resources/ResourceIds.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

// Nothing here may ask the user anything: every question counts as a fault.
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

enum class CloseWay { Ok, Esc, CloseButton };

// What the about box showed while it was up, and how it ended.
struct AboutSeen {
    bool shown = false;
    QString title;
    QString text;
    QSize picture;
    bool pictureIsProgramIcon = false;
    bool okIsDefault = false;
    bool okHasFocus = false;
    bool modal = false;
    QWidget* parent = nullptr;
    int result = -1;
};

// One line per named control: its text, check state and whether it is enabled; and the control with the
// focus. Two equal descriptions mean the user sees the same window.
std::string Describe(const QWidget& window) {
    std::string text;
    for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->objectName().isEmpty() || child->isWindow()) {
            continue;
        }
        text += child->objectName().toStdString() + ":";
        if (auto* edit = qobject_cast<QLineEdit*>(child)) {
            text += " text=" + edit->text().toStdString();
        } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            text += std::string(" checked=") + (button->isChecked() ? "1" : "0");
        } else if (auto* label = qobject_cast<QLabel*>(child)) {
            text += " text=" + label->text().toStdString();
        }
        text += std::string(" enabled=") + (child->isEnabled() ? "1" : "0") + "\n";
    }
    const QWidget* focus = window.focusWidget();
    return text + "focus: " + (focus != nullptr ? focus->objectName().toStdString() : "none") + "\n";
}

class WindowMenuTest : public ::testing::Test {
  protected:
    TempDir dir;
    NoPrompts prompts;
    std::unique_ptr<CPhotoMoverDlg> window;
    ModalWatchdog watchdog;

    void SetUp() override {
        WriteFile(dir / "tovaro.ini", "[settings]\nfromdir=/media/card/DCIM\ntodir=/home/me/Pictures\n");
        window =
            std::make_unique<CPhotoMoverDlg>(TransferPasses{}, SettingsFile(dir / "tovaro.ini"), &prompts);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override {
        EXPECT_EQ(prompts.asked, 0);
        EXPECT_FALSE(watchdog.Fired());
    }

    template <typename T = QWidget>
    T* Item(const char* name) const {
        T* item = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(item, nullptr) << name;
        return item;
    }

    // A point of the window that no control covers.
    QPoint Background() const {
        const QPoint point(window->width() - 4, window->height() / 2);
        EXPECT_EQ(window->childAt(point), nullptr);
        return point;
    }

    static QMenu* OpenMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

    // The right mouse button on the window's background, as the desktop delivers it.
    QMenu* RightClickBackground() {
        QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, Background());
        WaitUntil([] { return OpenMenu() != nullptr; }, 2000);
        return OpenMenu();
    }

    // Shift+F10, typed into whichever control has the focus.
    static QMenu* PressShiftF10() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
        WaitUntil([] { return OpenMenu() != nullptr; }, 2000);
        return OpenMenu();
    }

    static QAction* Entry(QMenu* menu, const QString& text) {
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    // Runs `open`; if it brings up the about box, records what the box shows and closes it `closeWay`.
    AboutSeen WhileAboutIsUp(const std::function<void()>& open, CloseWay closeWay = CloseWay::Ok) {
        AboutSeen seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (about == nullptr || !about->isVisible() || !about->isActiveWindow()) {
                return;
            }
            poll.stop();
            seen.shown = true;
            seen.title = about->windowTitle();
            seen.modal = about->isModal();
            seen.parent = about->parentWidget();
            if (auto* version = about->findChild<QLabel*>("aboutVersion")) {
                seen.text = version->text();
            }
            if (auto* picture = about->findChild<QLabel*>("aboutIcon")) {
                const QPixmap shown = picture->pixmap();
                seen.picture = shown.size();
                seen.pictureIsProgramIcon =
                    !shown.isNull() && shown.toImage() == window->windowIcon().pixmap(shown.size()).toImage();
            }
            auto* ok = about->findChild<QPushButton*>("IDOK");
            seen.okIsDefault = ok != nullptr && ok->isDefault();
            seen.okHasFocus = ok != nullptr && QApplication::focusWidget() == ok;
            QObject::connect(about, &QDialog::finished, [&seen](int result) { seen.result = result; });
            switch (closeWay) {
                case CloseWay::Ok:
                    QTest::mouseClick(ok, Qt::LeftButton);
                    break;
                case CloseWay::Esc:
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
                    break;
                case CloseWay::CloseButton:
                    about->close();
                    break;
            }
        });
        poll.start(10);
        open();
        return seen;
    }

    void ExpectTheAboutBox(const AboutSeen& seen) const {
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, "About Tovaro");
        EXPECT_EQ(seen.text, "Tovaro Version 1.0");
        EXPECT_EQ(seen.picture, QSize(32, 32));
        EXPECT_TRUE(seen.pictureIsProgramIcon);
        EXPECT_TRUE(seen.okIsDefault);
        EXPECT_TRUE(seen.okHasFocus);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, window.get());
        EXPECT_TRUE(window->findChildren<CAboutDlg*>().isEmpty());  // gone again
    }
};

TEST_F(WindowMenuTest, HoldsCloseThenASeparatorAndTheAboutEntry) {
    // Showing the window again must not add a second About entry.
    window->hide();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    QMenu* menu = RightClickBackground();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu, window->GetSystemMenu());
    const QList<QAction*> entries = menu->actions();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]->text(), "&Close");
    EXPECT_EQ(entries[0]->data().toInt(), SC_CLOSE);
    EXPECT_TRUE(entries[1]->isSeparator());
    EXPECT_EQ(entries[2]->text(), "&About Tovaro...");
    EXPECT_EQ(entries[2]->data().toInt(), IDM_ABOUTBOX);
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([] { return OpenMenu() == nullptr; }, 2000));
    EXPECT_TRUE(window->isVisible());
}

// The About entry, chosen from the menu as a user would, shows the about box over the window; after it the
// window is as it was, down to the control with the focus.
TEST_F(WindowMenuTest, AboutShowsTheBoxAndReturnsToTheWindowUnchanged) {
    const struct {
        const char* name;
        const char* option;  // the naming option chosen first
        const char* focus;   // the control given the focus before the menu opens
        bool keyboard;       // Shift+F10 instead of the right mouse button
    } cases[] = {
        {"rename, mouse", "IDC_APPEND_RENAME", "IDC_RENAME_FIND", false},
        {"text keeps the focus, mouse", "IDC_APPEND_TEXT", "IDC_TEXT", false},
        {"number, Shift+F10 on the check box", "IDC_APPEND_NUMBER", "IDC_SEND_TO_ZIP", true},
        {"nothing, Shift+F10 on OK", "IDC_APPEND_NOTHING", "IDOK", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTest::mouseClick(Item(c.option), Qt::LeftButton);
        for (const char* edit : {"IDC_TEXT", "IDC_NUMBER", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
            Item<QLineEdit>(edit)->setText(QString::fromUtf8(edit) + "_value");
        }
        QTest::mouseClick(Item(c.focus), Qt::LeftButton);
        if (std::string(c.focus) == "IDC_SEND_TO_ZIP") {
            QTest::mouseClick(Item(c.focus), Qt::LeftButton);  // leave it unchecked again
        }
        ASSERT_EQ(QApplication::focusWidget(), Item(c.focus));
        const std::string before = Describe(*window);

        const AboutSeen seen = WhileAboutIsUp([&] {
            QMenu* menu = c.keyboard ? PressShiftF10() : RightClickBackground();
            ASSERT_EQ(menu, window->GetSystemMenu());
            if (c.keyboard) {
                QTest::keyClick(menu, Qt::Key_A);  // the entry's mnemonic
            } else {
                QAction* about = Entry(menu, "&About Tovaro...");
                ASSERT_NE(about, nullptr);
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
            }
        });
        ExpectTheAboutBox(seen);
        EXPECT_EQ(seen.result, QDialog::Accepted);

        EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == Item(c.focus); }, 2000))
            << "focus on "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none")
                   .toStdString();
        EXPECT_EQ(Describe(*window), before);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(OpenMenu(), nullptr);
    }
}

TEST_F(WindowMenuTest, AboutBoxClosesWithOkEscAndItsCloseButton) {
    const struct {
        CloseWay way;
        int result;
    } cases[] = {
        {CloseWay::Ok, QDialog::Accepted},
        {CloseWay::Esc, QDialog::Rejected},
        {CloseWay::CloseButton, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.way));
        const AboutSeen seen = WhileAboutIsUp([&] { window->OnSysCommand(IDM_ABOUTBOX, 0); }, c.way);
        ExpectTheAboutBox(seen);
        EXPECT_EQ(seen.result, c.result);
        EXPECT_TRUE(window->isVisible());
    }
}

// Only the command's upper bits name it; the low four are the desktop's own.
TEST_F(WindowMenuTest, SystemCommandsAreTakenByTheirUpperBits) {
    const struct {
        unsigned command;
        bool about;
        bool closes;
    } cases[] = {
        {0x0010, true, false},  {0x0013, true, false},  {0x001F, true, false}, {0x0000, false, false},
        {0x0020, false, false}, {0xF010, false, false},  // move: the desktop's, nothing here
        {0xF060, false, true},  {0xF062, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        if (!window->isVisible()) {
            window->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        }
        const AboutSeen seen = WhileAboutIsUp([&] { window->OnSysCommand(c.command, 0); });
        EXPECT_EQ(seen.shown, c.about);
        EXPECT_EQ(window->isVisible(), !c.closes);
        if (c.closes) {
            EXPECT_EQ(window->result(), QDialog::Rejected);
        }
    }
}

TEST_F(WindowMenuTest, CloseEntryEndsTheWindowByTheCancelRoute) {
    int finished = -1;
    QObject::connect(window.get(), &QDialog::finished, [&](int result) { finished = result; });
    QMenu* menu = RightClickBackground();
    ASSERT_NE(menu, nullptr);
    QTest::keyClick(menu, Qt::Key_C);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(finished, QDialog::Rejected);
}

// In an edit box the context-menu keys give the box's own menu (cut, copy, paste), not the window's.
TEST_F(WindowMenuTest, ShiftF10InAnEditBoxGivesTheBoxItsOwnMenu) {
    QTest::mouseClick(Item("IDC_FROMDIR"), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), Item("IDC_FROMDIR"));
    QMenu* menu = PressShiftF10();
    ASSERT_NE(menu, nullptr);
    EXPECT_NE(menu, window->GetSystemMenu());
    EXPECT_EQ(Entry(menu, "&About Tovaro..."), nullptr);
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([] { return OpenMenu() == nullptr; }, 2000));
}

TEST_F(WindowMenuTest, DestroyingTheWindowAsksForTheHelpToClose) {
    int asked = 0;
    QObject::connect(window.get(), &CPhotoMoverDlg::helpCloseRequested, [&] { ++asked; });
    window->close();
    EXPECT_EQ(asked, 0);  // closing alone is not the end of the window
    window.reset();
    EXPECT_EQ(asked, 1);
}

}  // namespace
