// The main window on real widgets: its form, OK and the transfers, browsing, its menu and about box.
#include "app/PhotoMoverDlg.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "app/AboutDlg.h"
#include "platform/ExecutablePath.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsFile.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"
#include "transfer/ArchivePass.h"
#include "transfer/MovePass.h"

using namespace testsupport;

namespace {

struct PassCall {
    std::string pass, status;  // the status line while the pass ran
    std::string fromDir, toDir;
    transfer::NameOption option;
};

const char* const kEdits[] = {"IDC_TEXT", "IDC_NUMBER", "IDC_RENAME_FIND", "IDC_RENAME_NEW"};

class WindowTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string settingsPath = dir / "tovaro.ini";
    ScriptedPrompts prompts;
    std::vector<PassCall> calls;
    std::unique_ptr<CPhotoMoverDlg> window;
    ModalWatchdog watchdog;

    void TearDown() override {
        EXPECT_EQ(prompts.unanswered, 0);
        EXPECT_FALSE(watchdog.Fired());
    }

    // Runs the real pass, recording the call and what the status line showed meanwhile.
    TransferPasses::Pass Recorded(const char* name, TransferPasses::Pass real) {
        return [=, this](const std::string& from, const std::string& to, transfer::NameOption option,
                         auto&... rest) {
            calls.push_back({name, Status(), from, to, option});
            return real(from, to, option, rest...);
        };
    }

    void Open() {
        window.reset();
        window = std::make_unique<CPhotoMoverDlg>(
            TransferPasses{Recorded("move", transfer::MovePass), Recorded("archive", transfer::ArchivePass)},
            SettingsFile(settingsPath), &prompts);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void OpenOn(const std::string& from, const std::string& to) {
        Open();
        Edit("IDC_FROMDIR")->setText(QString::fromStdString(from));
        Edit("IDC_TODIR")->setText(QString::fromStdString(to));
    }
    // A camera folder with a picture, a video and another file, and an empty destination.
    void MakeCamera() {
        MakeFolder(dir / "camera");
        MakeFolder(dir / "computer");
        WriteFile(dir / "camera/IMG_0001.JPG", "picture");
        WriteFile(dir / "camera/CLIP0002.AVI", "video");
        WriteFile(dir / "camera/notes.txt", "notes");
    }

    template <typename T = QWidget>
    T* Item(const char* name) const {
        T* item = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(item, nullptr) << name;
        return item;
    }
    QLineEdit* Edit(const char* name) const { return Item<QLineEdit>(name); }
    std::string Text(const char* name) const { return Edit(name)->text().toStdString(); }
    std::string Status() const { return Item<QLabel>("IDC_STATUS")->text().toStdString(); }
    bool Checked(const char* name) const { return Item<QAbstractButton>(name)->isChecked(); }
    void Click(const char* name) { QTest::mouseClick(Item(name), Qt::LeftButton); }
    static QWidget* Focus() { return QApplication::focusWidget(); }
    static std::string AppName() { return platform::ApplicationNameFor(platform::ExecutablePath()); }

    void ExpectBox(size_t i, const std::string& text, unsigned style) {
        ASSERT_GT(prompts.boxes.size(), i);
        EXPECT_EQ(prompts.boxes[i].text, text);
        EXPECT_EQ(prompts.boxes[i].style, style);
        EXPECT_EQ(prompts.boxes[i].caption, AppName());
        EXPECT_EQ(prompts.boxes[i].owner, window.get());
    }

    static QMenu* OpenMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }
    // The right mouse button on a point of the window that no control covers, or Shift+F10 on the focus.
    QMenu* ContextMenu(bool keyboard) {
        const QPoint background(window->width() - 4, window->height() / 2);
        EXPECT_EQ(window->childAt(background), nullptr);
        if (keyboard) {
            QTest::keyClick(Focus(), Qt::Key_F10, Qt::ShiftModifier);
        } else {
            QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, background);
        }
        WaitUntil([] { return OpenMenu() != nullptr; }, 2000);
        return OpenMenu();
    }
};

TEST_F(WindowTest, OpensWithTheStoredFoldersAndNothingChosen) {
    WriteFile(settingsPath, "[settings]\nfromdir=/media/card/DCIM\ntodir=/home/me/Pictures\ncounter=41\n");
    Open();
    EXPECT_EQ(window->windowTitle(), "Tovaro Utility");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(Status(), "Status: Tovaro Utility");
    EXPECT_EQ(Text("IDC_FROMDIR"), "/media/card/DCIM");
    EXPECT_EQ(Text("IDC_TODIR"), "/home/me/Pictures");
    for (const char* option : {"IDC_APPEND_NOTHING", "IDC_APPEND_TEXT", "IDC_APPEND_DATE",
                               "IDC_APPEND_NUMBER", "IDC_APPEND_RENAME", "IDC_SEND_TO_ZIP"}) {
        EXPECT_EQ(Checked(option), option == std::string("IDC_APPEND_NOTHING")) << option;
    }
    for (const char* box : kEdits) {
        EXPECT_FALSE(Edit(box)->isEnabled()) << box;
        EXPECT_EQ(Text(box), "") << box;
    }
    EXPECT_EQ(Focus(), Item("IDOK"));
    EXPECT_FALSE(prompts.Asked());
}

TEST_F(WindowTest, EachOptionEnablesItsBoxesAndTheOthersKeepTheirTexts) {
    Open();
    const struct {
        const char* radio;
        bool enabled[4];  // kEdits
    } steps[] = {
        {"IDC_APPEND_RENAME", {false, false, true, true}},
        {"IDC_APPEND_TEXT", {true, false, false, false}},
        {"IDC_APPEND_NUMBER", {false, true, false, false}},
        {"IDC_APPEND_DATE", {false, false, false, false}},
        {"IDC_APPEND_NOTHING", {false, false, false, false}},
    };
    for (const char* box : {"IDC_TEXT", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
        Edit(box)->setText(box);
    }
    for (const auto& step : steps) {
        Click(step.radio);
        EXPECT_TRUE(Checked(step.radio));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Edit(kEdits[i])->isEnabled(), step.enabled[i]) << step.radio << " " << kEdits[i];
        }
    }
    for (const char* box : {"IDC_TEXT", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
        EXPECT_EQ(Text(box), box);
    }
}

TEST_F(WindowTest, WhileTextIsChosenItsBoxKeepsTheFocus) {
    Open();
    Click("IDC_APPEND_TEXT");
    EXPECT_EQ(Focus(), Item("IDC_TEXT"));
    Click("IDC_FROMDIR");
    EXPECT_EQ(Focus(), Item("IDC_TEXT"));
    Click("IDC_SEND_TO_ZIP");
    EXPECT_EQ(Focus(), Item("IDC_TEXT"));
    EXPECT_TRUE(Checked("IDC_SEND_TO_ZIP"));
    QTest::keyClick(Item("IDC_TEXT"), Qt::Key_Tab);
    QTest::keyClicks(Item("IDC_TEXT"), "Beach");
    EXPECT_EQ(Text("IDC_TEXT"), "Beach");

    Click("IDC_APPEND_DATE");
    Click("IDC_FROMDIR");
    EXPECT_EQ(Focus(), Item("IDC_FROMDIR"));
}

TEST_F(WindowTest, NumberLoadsTheStoredCounterOnEveryClick) {
    Open();
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(Text("IDC_NUMBER"), "~");  // nothing stored yet
    WriteFile(settingsPath, "[settings]\ncounter=41\n");
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(Text("IDC_NUMBER"), "41");
    Edit("IDC_NUMBER")->selectAll();
    QTest::keyClicks(Edit("IDC_NUMBER"), "5");
    EXPECT_EQ(Text("IDC_NUMBER"), "5");
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(Text("IDC_NUMBER"), "41");
}

TEST_F(WindowTest, OkChecksBothFoldersFirst) {
    const struct {
        const char *from, *to, *message;
    } cases[] = {
        {"", "/tmp", "Please locate the directory for the camera."},
        {"", "", "Please locate the directory for the camera."},
        {"/tmp", "", "Please locate the directory to move the images to."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        prompts.boxes.clear();
        OpenOn(c.from, c.to);
        Click("IDOK");
        EXPECT_EQ(prompts.boxes.size(), 1u);
        ExpectBox(0, c.message, kBoxOk | kBoxIconExclamation);
        EXPECT_EQ(Status(), "Status: Tovaro Utility");
        EXPECT_TRUE(window->isVisible());
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(WindowTest, OkMovesTheCameraFolderAndStaysOpen) {
    MakeCamera();
    WriteFile(settingsPath, "[settings]\ncounter=7\n");
    OpenOn(dir / "camera", dir / "computer");
    Click("IDC_APPEND_NUMBER");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pass, "move");
    EXPECT_EQ(calls[0].status, "Status: Working...");
    EXPECT_EQ(calls[0].option, transfer::kNameNumber);
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    const auto moved = ListNames(dir / "computer");
    EXPECT_TRUE(moved == (std::vector<std::string>{"CLIP0002 -8.avi", "IMG_0001 -7.jpg"}) ||
                moved == (std::vector<std::string>{"CLIP0002 -7.avi", "IMG_0001 -8.jpg"}));
    EXPECT_EQ(ListNames(dir / "camera"), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(Text("IDC_NUMBER"), "9");
    EXPECT_EQ(SettingsFile(settingsPath).Read("counter"), "9");
    EXPECT_FALSE(prompts.Asked());

    // A second OK runs a second pass with the form as it stands.
    WriteFile(dir / "camera/IMG_0003.JPG", "picture");
    Click("IDC_APPEND_NOTHING");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].option, transfer::kNameNothing);
    EXPECT_TRUE(Exists(dir / "computer/IMG_0003.jpg"));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, OkWithSendToZipArchivesThePictures) {
    MakeCamera();
    OpenOn(dir / "camera", dir / "computer");
    Click("IDC_APPEND_DATE");
    Click("IDC_SEND_TO_ZIP");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pass, "archive");
    EXPECT_EQ(calls[0].option, transfer::kNameDate);
    EXPECT_EQ(calls[0].status, "Status: Working...");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    EXPECT_FALSE(prompts.Asked());
    EXPECT_EQ(ListNames(dir / "camera"), (std::vector<std::string>{"CLIP0002.AVI", "notes.txt"}));
    std::string names;  // read back by a reader we did not write
    ASSERT_EQ(RunCommand("python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).namelist())' " +
                             ShellQuote(dir / "computer/ArchivePics.zip"),
                         &names),
              0);
    EXPECT_EQ(names.rfind("['" + dir.Path() + "/camera/IMG_0001 ", 0), 0u) << names;  // the full path
    EXPECT_EQ(names.find("', "), std::string::npos) << names;                         // one member
}

TEST_F(WindowTest, FirstStartShowsTildesAndEnterRunsOkAndEscCloses) {
    Open();
    EXPECT_EQ(Text("IDC_FROMDIR") + Text("IDC_TODIR"), "~~");
    EXPECT_FALSE(Exists(settingsPath));  // reading creates no file
    Click("IDC_TODIR");
    QTest::keyClick(Item("IDC_TODIR"), Qt::Key_Return);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fromDir + calls[0].toDir, "~~");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    Click("IDC_APPEND_NUMBER");
    QTest::keyClick(Item("IDC_NUMBER"), Qt::Key_Enter);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(window->isVisible());
    QTest::keyClick(Item("IDC_FROMDIR"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_FALSE(prompts.Asked());
}

TEST_F(WindowTest, BrowseButtonsAskToSaveTheChosenFolder) {
    const struct {
        bool from;
        std::string chosen;  // "" cancels the picker
        int answer;
        const char* stored;
    } cases[] = {
        {true, "/media/DCIM", kAnswerYes, "/media/DCIM"},
        {false, "/home/me", kAnswerYes, "/home/me"},
        {true, "/media/other", kAnswerNo, "/old"},
        {false, "", 0, "/old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        WriteFile(settingsPath, "[settings]\nfromdir=/old\ntodir=/old\n");
        Open();
        prompts.boxes.clear();
        prompts.folders.push_back(c.chosen);
        if (!c.chosen.empty()) {
            prompts.answers.push_back(c.answer);
        }
        Click(c.from ? "IDC_BROWSE_FROM" : "IDC_BROWSE_TO");
        EXPECT_EQ(prompts.pickerTitles.back(), c.from ? "Select from directory" : "Select to directory");
        EXPECT_EQ(prompts.pickerOwners.back(), window.get());
        EXPECT_EQ(prompts.boxes.size(), c.chosen.empty() ? 0u : 1u);
        if (!c.chosen.empty()) {
            ExpectBox(0, "Save Location? \n\n" + c.chosen, kBoxYesNo | kBoxIconQuestion);
        }
        EXPECT_EQ(Text(c.from ? "IDC_FROMDIR" : "IDC_TODIR"), c.chosen.empty() ? "/old" : c.chosen);
        EXPECT_EQ(SettingsFile(settingsPath).Read(c.from ? "fromdir" : "todir"), c.stored);
    }
}

TEST_F(WindowTest, WarnsWhenFilesWereNotMoved) {
    MakeFolder(dir / "camera");
    for (int i = 1; i <= 12; ++i) {
        WriteFile(dir / QString::asprintf("camera/IMG_%04d.JPG", i).toStdString(), "picture");
    }
    OpenOn(dir / "camera", dir / "computer");  // a destination that isn't there
    Click("IDOK");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    ASSERT_EQ(prompts.boxes.size(), 1u);
    const std::string text = prompts.boxes[0].text;
    ExpectBox(0, text, kBoxOk | kBoxIconExclamation);
    EXPECT_EQ(text.rfind("12 of 12 files could not be moved:\n\nIMG_", 0), 0u) << text;
    size_t listed = 0;  // one line per failed file, with its reason, up to ten
    for (size_t at = text.find(".JPG: "); at != std::string::npos; at = text.find(".JPG: ", at + 1)) {
        ++listed;
    }
    EXPECT_EQ(listed, 10u) << text;
    EXPECT_NE(text.find("\n... and 2 more."), std::string::npos) << text;
}

TEST_F(WindowTest, TellsWhatCouldNotBeKeptAsUsual) {
    MakeCamera();
    WriteFile(dir / "computer/ArchivePics.zip", "an earlier archive");
    OpenOn(dir / "camera", dir / "computer");
    Click("IDC_SEND_TO_ZIP");
    Click("IDOK");
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_NE(prompts.boxes[0].text.find("ArchivePics-1.zip"), std::string::npos) << prompts.boxes[0].text;
    EXPECT_EQ(prompts.boxes[0].style, kBoxOk);
    EXPECT_EQ(ReadFile(dir / "computer/ArchivePics-1.zip"), "an earlier archive");

    prompts.boxes.clear();
    settingsPath = dir / "gone/tovaro.ini";  // a folder that isn't there: every write fails
    OpenOn(dir / "camera", dir / "computer");
    Click("IDC_APPEND_NUMBER");
    Click("IDOK");
    EXPECT_TRUE(Exists(dir / "computer/CLIP0002 -0.avi"));
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    ExpectBox(0, "The running number could not be saved in " + settingsPath + ".",
              kBoxOk | kBoxIconExclamation);
}

// The real boxes: modal, owned by the window, with the program's name, text, icon and buttons.
TEST(WidgetPromptsTest, MessageBoxIsModalAndOwnedAndAnswers) {
    QWidget owner;
    WidgetPrompts prompts;
    ModalWatchdog watchdog;
    const struct {
        unsigned style;
        QMessageBox::Icon icon;
        QMessageBox::StandardButton press;
        int answer;
    } cases[] = {
        {kBoxOk | kBoxIconExclamation, QMessageBox::Warning, QMessageBox::Ok, kAnswerOk},
        {kBoxYesNo | kBoxIconQuestion, QMessageBox::Question, QMessageBox::No, kAnswerNo},
    };
    for (const auto& c : cases) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->parentWidget(), &owner);
            EXPECT_EQ(box->windowTitle(), "tovaro");
            EXPECT_EQ(box->text(), "/a<b>&c");
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->button(QMessageBox::Yes) != nullptr, c.answer != kAnswerOk);
            QTest::mouseClick(box->button(c.press), Qt::LeftButton);
        });
        EXPECT_EQ(prompts.MessageBox(&owner, "/a<b>&c", "tovaro", c.style), c.answer);
        EXPECT_TRUE(seen);
    }
    EXPECT_FALSE(watchdog.Fired());
}

// One line per named control: its text, check state and whether it is enabled; and the focus.
std::string Describe(const QWidget& window) {
    std::string text;
    for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        text += child->objectName().toStdString() + (child->isEnabled() ? " on " : " off ");
        if (auto* edit = qobject_cast<QLineEdit*>(child)) {
            text += edit->text().toStdString();
        } else if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            text += button->isChecked() ? "checked" : "";
        } else if (auto* label = qobject_cast<QLabel*>(child)) {
            text += label->text().toStdString();
        }
        text += "\n";
    }
    return text + "focus: " + (window.focusWidget() ? window.focusWidget()->objectName().toStdString() : "");
}

TEST_F(WindowTest, MenuHoldsCloseAndAboutAndCloseEndsByTheCancelRoute) {
    Open();
    window->hide();  // showing the window again must not add a second About entry
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    int finished = -1;
    QObject::connect(window.get(), &QDialog::finished, [&](int result) { finished = result; });
    Click("IDC_FROMDIR");  // an edit box's context menu is its own (cut, copy, paste), not the window's
    QMenu* menu = ContextMenu(true);
    ASSERT_NE(menu, nullptr);
    EXPECT_NE(menu, window->GetSystemMenu());
    QTest::keyClick(menu, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([] { return OpenMenu() == nullptr; }, 2000));

    menu = ContextMenu(false);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu, window->GetSystemMenu());
    const QList<QAction*> entries = menu->actions();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]->text(), "&Close");
    EXPECT_EQ(entries[0]->data().toInt(), SC_CLOSE);
    EXPECT_TRUE(entries[1]->isSeparator());
    EXPECT_EQ(entries[2]->text(), "&About Tovaro...");
    EXPECT_EQ(entries[2]->data().toInt(), IDM_ABOUTBOX);
    QTest::keyClick(menu, Qt::Key_C);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(finished, QDialog::Rejected);
}

// About, chosen from the menu as a user would, shows the about box over the window; after it the window is
// as it was, down to the control with the focus.
TEST_F(WindowTest, AboutShowsTheBoxAndReturnsToTheWindowUnchanged) {
    const struct {
        const char *option, *focus;
        bool keyboard;  // Shift+F10 and the entry's mnemonic, and Esc closes the box; else mouse and OK
    } cases[] = {
        {"IDC_APPEND_TEXT", "IDC_TEXT", false},
        {"IDC_APPEND_RENAME", "IDC_RENAME_FIND", false},
        {"IDC_APPEND_NUMBER", "IDC_APPEND_NUMBER", true},
    };
    Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.focus);
        Click(c.option);
        for (const char* edit : kEdits) {
            Edit(edit)->setText(QString::fromUtf8(edit) + "_value");
        }
        Click(c.focus);
        ASSERT_EQ(Focus(), Item(c.focus));
        const std::string before = Describe(*window);

        bool shown = false;
        int result = -1;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (about == nullptr || !about->isActiveWindow()) {
                return;
            }
            poll.stop();
            shown = true;
            EXPECT_EQ(about->windowTitle(), "About Tovaro");
            EXPECT_EQ(about->parentWidget(), window.get());
            EXPECT_EQ(about->findChild<QLabel*>("aboutVersion")->text(), "Tovaro Version 1.0");
            const QPixmap picture = about->findChild<QLabel*>("aboutIcon")->pixmap();
            EXPECT_EQ(picture.size(), QSize(32, 32));
            EXPECT_EQ(picture.toImage(), window->windowIcon().pixmap(QSize(32, 32)).toImage());
            auto* ok = about->findChild<QPushButton*>("IDOK");
            EXPECT_TRUE(ok->isDefault());
            EXPECT_EQ(Focus(), ok);
            QObject::connect(about, &QDialog::finished, [&](int r) { result = r; });
            if (c.keyboard) {
                QTest::keyClick(Focus(), Qt::Key_Escape);
            } else {
                QTest::mouseClick(ok, Qt::LeftButton);
            }
        });
        poll.start(10);
        QMenu* menu = ContextMenu(c.keyboard);
        ASSERT_EQ(menu, window->GetSystemMenu());
        if (c.keyboard) {
            QTest::keyClick(menu, Qt::Key_A);
        } else {
            QTest::mouseClick(menu, Qt::LeftButton, {},
                              menu->actionGeometry(menu->actions().last()).center());
        }
        EXPECT_TRUE(shown);
        EXPECT_EQ(result, c.keyboard ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_TRUE(window->findChildren<CAboutDlg*>().isEmpty());
        EXPECT_TRUE(WaitUntil([&] { return Focus() == Item(c.focus); }, 2000));
        EXPECT_EQ(Describe(*window), before);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(OpenMenu(), nullptr);
    }
}

// Only the command's upper bits name it; the low four are the desktop's own.
TEST_F(WindowTest, SystemCommandsAreTakenByTheirUpperBits) {
    const struct {
        unsigned command;
        bool about, closes;
    } cases[] = {
        {0x001F, true, false},
        {0x0020, false, false},
        {0xF010, false, false},
        {0xF062, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Open();
        bool about = false;
        QTimer::singleShot(50, window.get(), [&] {
            if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                about = true;
                box->reject();
            }
        });
        window->OnSysCommand(c.command, 0);
        QTest::qWait(60);
        EXPECT_EQ(about, c.about);
        EXPECT_EQ(window->isVisible(), !c.closes);
    }
}

TEST_F(WindowTest, HelpIsAskedForAndDestroyingTheWindowAsksForTheHelpToClose) {
    Open();
    int help = 0, helpClose = 0;
    QObject::connect(window.get(), &CPhotoMoverDlg::helpRequested, [&] { ++help; });
    QObject::connect(window.get(), &CPhotoMoverDlg::helpCloseRequested, [&] { ++helpClose; });
    Click("ID_HELP");
    EXPECT_EQ(help, 1);
    window->close();
    EXPECT_EQ(helpClose, 0);  // closing alone is not the end of the window
    window.reset();
    EXPECT_EQ(helpClose, 1);
}

}  // namespace
