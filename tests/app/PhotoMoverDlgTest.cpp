#include "app/PhotoMoverDlg.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "app/SettingsFile.h"
#include "app/UserPrompts.h"
#include "platform/ExecutablePath.h"
#include "resources/ResourceIds.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"
#include "transfer/ArchivePass.h"
#include "transfer/MovePass.h"

using namespace testsupport;

namespace {

// Answers the window's boxes and picker from a script, and records what was asked.
class ScriptedPrompts : public UserPrompts {
  public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
        QWidget* owner;
    };
    std::vector<Box> boxes;
    std::deque<int> answers;          // for Yes/No boxes, in order
    std::deque<std::string> folders;  // for the picker, in order; "" cancels
    std::vector<std::string> pickerTitles;
    std::vector<QWidget*> pickerOwners;
    std::vector<std::string> unanswered;

    int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned style) override {
        boxes.push_back({text, caption, style, owner});
        if ((style & 0x0F) != kBoxYesNo) {
            return kAnswerOk;
        }
        if (answers.empty()) {
            unanswered.push_back(text);
            return kAnswerNo;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::string ChooseFolder(QWidget* owner, const std::string& title) override {
        pickerTitles.push_back(title);
        pickerOwners.push_back(owner);
        if (folders.empty()) {
            unanswered.push_back(title);
            return {};
        }
        std::string folder = folders.front();
        folders.pop_front();
        return folder;
    }
};

struct PassCall {
    std::string pass;    // "move" or "archive"
    std::string status;  // what the status line showed while the pass ran
    std::string fromDir, toDir;
    transfer::NameOption option;
};

class WindowTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string settingsPath = dir / "tovaro.ini";
    ScriptedPrompts prompts;
    std::vector<PassCall> calls;
    std::unique_ptr<CPhotoMoverDlg> window;
    ModalWatchdog watchdog;

    void TearDown() override {
        EXPECT_TRUE(prompts.unanswered.empty()) << prompts.unanswered.front();
        EXPECT_FALSE(watchdog.Fired());
    }

    TransferPasses Passes() {
        TransferPasses passes;
        passes.move = [this](const std::string& from, const std::string& to, transfer::NameOption option,
                             transfer::NamingInputs& inputs, const SettingsFile& settings,
                             const transfer::PassOptions& options) {
            calls.push_back({"move", Status(), from, to, option});
            return transfer::MovePass(from, to, option, inputs, settings, options);
        };
        passes.archive = [this](const std::string& from, const std::string& to, transfer::NameOption option,
                                transfer::NamingInputs& inputs, const SettingsFile& settings,
                                const transfer::PassOptions& options) {
            calls.push_back({"archive", Status(), from, to, option});
            return transfer::ArchivePass(from, to, option, inputs, settings, options);
        };
        return passes;
    }

    void Open() {
        window = std::make_unique<CPhotoMoverDlg>(Passes(), SettingsFile(settingsPath), &prompts);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void Reopen() {
        window.reset();
        Open();
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
    void Type(const char* name, const std::string& text) {
        Click(name);
        Edit(name)->selectAll();
        QTest::keyClicks(Edit(name), QString::fromStdString(text));
    }
    // The folders typed in, as a user would; only "~" remains of a first start otherwise.
    void SetFolders(const std::string& from, const std::string& to) {
        Edit("IDC_FROMDIR")->setText(QString::fromStdString(from));
        Edit("IDC_TODIR")->setText(QString::fromStdString(to));
    }
    QWidget* Focus() const { return QApplication::focusWidget(); }

    std::string AppName() const { return platform::ApplicationNameFor(platform::ExecutablePath()); }
};

TEST_F(WindowTest, OpensWithTheStoredFoldersAndNothingChosen) {
    WriteFile(settingsPath, "[settings]\nfromdir=/media/card/DCIM\ntodir=/home/me/Pictures\ncounter=41\n");
    Open();
    EXPECT_EQ(window->windowTitle(), "Tovaro Utility");
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(Status(), "Status: Tovaro Utility");
    EXPECT_EQ(Text("IDC_FROMDIR"), "/media/card/DCIM");
    EXPECT_EQ(Text("IDC_TODIR"), "/home/me/Pictures");
    EXPECT_TRUE(Checked("IDC_APPEND_NOTHING"));
    for (const char* radio :
         {"IDC_APPEND_TEXT", "IDC_APPEND_DATE", "IDC_APPEND_NUMBER", "IDC_APPEND_RENAME"}) {
        EXPECT_FALSE(Checked(radio)) << radio;
    }
    EXPECT_FALSE(Checked("IDC_SEND_TO_ZIP"));
    for (const char* box : {"IDC_TEXT", "IDC_NUMBER", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
        EXPECT_FALSE(Edit(box)->isEnabled()) << box;
        EXPECT_EQ(Text(box), "") << box;
    }
    EXPECT_EQ(Focus(), Item("IDOK"));
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(WindowTest, FirstStartShowsTildesAndOkRunsThePassOnThem) {
    Open();
    EXPECT_EQ(Text("IDC_FROMDIR"), "~");
    EXPECT_EQ(Text("IDC_TODIR"), "~");
    EXPECT_FALSE(Exists(settingsPath));  // reading creates no file

    Click("IDOK");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fromDir, "~");
    EXPECT_EQ(calls[0].toDir, "~");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(WindowTest, EachOptionEnablesItsBoxesAndTheOthersKeepTheirTexts) {
    Open();
    const struct {
        const char* radio;
        bool text, number, find, renameNew;
    } steps[] = {
        {"IDC_APPEND_RENAME", false, false, true, true},    {"IDC_APPEND_TEXT", true, false, false, false},
        {"IDC_APPEND_NUMBER", false, true, false, false},   {"IDC_APPEND_DATE", false, false, false, false},
        {"IDC_APPEND_NOTHING", false, false, false, false},
    };
    Edit("IDC_RENAME_FIND")->setText("IMG_");
    Edit("IDC_RENAME_NEW")->setText("Rome_");
    Edit("IDC_TEXT")->setText("Trip");
    for (const auto& step : steps) {
        Click(step.radio);
        EXPECT_TRUE(Checked(step.radio));
        EXPECT_EQ(Edit("IDC_TEXT")->isEnabled(), step.text) << step.radio;
        EXPECT_EQ(Edit("IDC_NUMBER")->isEnabled(), step.number) << step.radio;
        EXPECT_EQ(Edit("IDC_RENAME_FIND")->isEnabled(), step.find) << step.radio;
        EXPECT_EQ(Edit("IDC_RENAME_NEW")->isEnabled(), step.renameNew) << step.radio;
    }
    EXPECT_EQ(Text("IDC_RENAME_FIND"), "IMG_");
    EXPECT_EQ(Text("IDC_RENAME_NEW"), "Rome_");
    EXPECT_EQ(Text("IDC_TEXT"), "Trip");
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
    EXPECT_EQ(Focus(), Item("IDC_TEXT"));
    QTest::keyClicks(Item("IDC_TEXT"), "Beach");
    EXPECT_EQ(Text("IDC_TEXT"), "Beach");

    // Without Text the focus goes where the user puts it.
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
    Type("IDC_NUMBER", "5");
    EXPECT_EQ(Text("IDC_NUMBER"), "5");
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(Text("IDC_NUMBER"), "41");
}

TEST_F(WindowTest, OkChecksBothFoldersFirst) {
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {"", "/tmp", "Please locate the directory for the camera."},
        {"", "", "Please locate the directory for the camera."},
        {"/tmp", "", "Please locate the directory to move the images to."},
    };
    Open();
    for (const auto& c : cases) {
        prompts.boxes.clear();
        SetFolders(c.from, c.to);
        Click("IDOK");
        ASSERT_EQ(prompts.boxes.size(), 1u) << c.message;
        EXPECT_EQ(prompts.boxes[0].text, c.message);
        EXPECT_EQ(prompts.boxes[0].style, kBoxOk | kBoxIconExclamation);
        EXPECT_EQ(prompts.boxes[0].caption, AppName());
        EXPECT_EQ(prompts.boxes[0].owner, window.get());
        EXPECT_EQ(Status(), "Status: Tovaro Utility");
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, OkMovesTheCameraFolderAndStaysOpen) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "picture");
    WriteFile(dir / "camera/CLIP0002.AVI", "video");
    WriteFile(dir / "camera/notes.txt", "notes");
    WriteFile(settingsPath, "[settings]\ncounter=7\n");
    Open();
    SetFolders(dir / "camera", dir / "computer");
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
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_TRUE(window->isVisible());

    // A second OK runs a second pass with the form as it stands.
    WriteFile(dir / "camera/IMG_0003.JPG", "picture");
    Click("IDC_APPEND_NOTHING");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].option, transfer::kNameNothing);
    EXPECT_TRUE(Exists(dir / "computer/IMG_0003.jpg"));
}

TEST_F(WindowTest, SendToZipRunsTheArchivePassWithTheSameOption) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    Open();
    SetFolders(dir / "camera", dir / "computer");
    Click("IDC_APPEND_DATE");
    Click("IDC_SEND_TO_ZIP");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pass, "archive");
    EXPECT_EQ(calls[0].option, transfer::kNameDate);
    EXPECT_EQ(calls[0].status, "Status: Working...");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
}

TEST_F(WindowTest, EnterInAnEditBoxRunsOkAndEscCloses) {
    Open();
    SetFolders(dir.Path(), dir.Path());
    Click("IDC_TODIR");
    QTest::keyClick(Item("IDC_TODIR"), Qt::Key_Return);
    EXPECT_EQ(calls.size(), 1u);
    Click("IDC_APPEND_NUMBER");
    QTest::keyClick(Item("IDC_NUMBER"), Qt::Key_Enter);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(window->isVisible());

    QTest::keyClick(Item("IDC_FROMDIR"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(WindowTest, CancelAndTheCloseButtonEndTheWindow) {
    Open();
    Click("IDCANCEL");
    EXPECT_FALSE(window->isVisible());
    Reopen();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(calls.empty());
}

TEST_F(WindowTest, HelpIsHandedOn) {
    Open();
    int asked = 0;
    QObject::connect(window.get(), &CPhotoMoverDlg::helpRequested, [&] { ++asked; });
    Click("ID_HELP");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, BrowseButtonsAskToSaveTheChosenFolder) {
    const struct {
        const char* button;
        const char* box;
        const char* key;
        const char* title;
        std::string chosen;  // "" cancels the picker
        int answer;
        const char* stored;  // afterwards; then shown on the next start
    } cases[] = {
        {"IDC_BROWSE_FROM", "IDC_FROMDIR", "fromdir", "Select from directory", "/media/card/DCIM", kAnswerYes,
         "/media/card/DCIM"},
        {"IDC_BROWSE_TO", "IDC_TODIR", "todir", "Select to directory", "/home/me/Pictures", kAnswerYes,
         "/home/me/Pictures"},
        {"IDC_BROWSE_FROM", "IDC_FROMDIR", "fromdir", "Select from directory", "/media/other", kAnswerNo,
         "/old"},
        {"IDC_BROWSE_TO", "IDC_TODIR", "todir", "Select to directory", "/old", kAnswerYes, "/old"},
        {"IDC_BROWSE_TO", "IDC_TODIR", "todir", "Select to directory", "", 0, "/old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.chosen);
        WriteFile(settingsPath, "[settings]\nfromdir=/old\ntodir=/old\n");
        Reopen();
        prompts.boxes.clear();
        prompts.folders.push_back(c.chosen);
        if (!c.chosen.empty()) {
            prompts.answers.push_back(c.answer);
        }
        Click(c.button);
        ASSERT_EQ(prompts.pickerTitles.back(), c.title);
        EXPECT_EQ(prompts.pickerOwners.back(), window.get());
        if (c.chosen.empty()) {
            EXPECT_TRUE(prompts.boxes.empty());
            EXPECT_EQ(Text(c.box), "/old");
        } else {
            ASSERT_EQ(prompts.boxes.size(), 1u);
            EXPECT_EQ(prompts.boxes[0].text, "Save Location? \n\n" + c.chosen);
            EXPECT_EQ(prompts.boxes[0].style, kBoxYesNo | kBoxIconQuestion);
            EXPECT_EQ(prompts.boxes[0].caption, AppName());
            EXPECT_EQ(Text(c.box), c.chosen);
        }
        EXPECT_EQ(SettingsFile(settingsPath).Read(c.key), c.stored);
        Reopen();
        EXPECT_EQ(Text(c.box), c.stored);
    }
}

TEST_F(WindowTest, WarnsWhenFilesWereNotMoved) {
    const struct {
        int files;
        bool toExists;
        const char* head;
        bool more;
    } cases[] = {
        {2, true, "1 of 2 files could not be moved:", false},
        {12, false, "12 of 12 files could not be moved:", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        TempDir folders;
        MakeFolder(folders / "camera");
        if (c.toExists) {
            MakeFolder(folders / "computer");
            WriteFile(folders / "computer/IMG_0001.jpg", "already here");
        }
        for (int i = 1; i <= c.files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
            WriteFile(folders / ("camera/" + std::string(name)), "picture");
        }
        Reopen();
        prompts.boxes.clear();
        SetFolders(folders / "camera", folders / "computer");
        Click("IDOK");
        EXPECT_EQ(Status(), "Status: Finished Moving Files!");
        ASSERT_EQ(prompts.boxes.size(), 1u);
        const auto& box = prompts.boxes[0];
        EXPECT_EQ(box.style, kBoxOk | kBoxIconExclamation);
        EXPECT_EQ(box.caption, AppName());
        EXPECT_EQ(box.owner, window.get());
        EXPECT_EQ(box.text.rfind(std::string(c.head) + "\n\nIMG_", 0), 0u) << box.text;
        // One line per failed file, with its reason, up to ten.
        size_t listed = 0;
        for (size_t at = box.text.find(".JPG: "); at != std::string::npos;
             at = box.text.find(".JPG: ", at + 1)) {
            ++listed;
        }
        EXPECT_EQ(listed, c.more ? 10u : 1u) << box.text;
        EXPECT_EQ(box.text.find("IMG_0002.JPG") == std::string::npos, !c.more) << box.text;  // it was moved
        EXPECT_EQ(box.text.find("\n... and 2 more.") != std::string::npos, c.more) << box.text;
        if (c.toExists) {
            EXPECT_EQ(ReadFile(folders / "computer/IMG_0001.jpg"), "already here");
        }
    }
}

TEST_F(WindowTest, OkWithSendToZipArchivesThePictures) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "picture");
    WriteFile(dir / "camera/CLIP0002.AVI", "video");
    WriteFile(dir / "camera/notes.txt", "notes");
    Open();
    SetFolders(dir / "camera", dir / "computer");
    Click("IDC_SEND_TO_ZIP");
    Click("IDOK");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].status, "Status: Working...");
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_EQ(ListNames(dir / "camera"), (std::vector<std::string>{"CLIP0002.AVI", "notes.txt"}));
    // Read back by a reader we did not write.
    std::string names;
    ASSERT_EQ(
        RunCommand("python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist())' " +
                       ShellQuote(dir / "computer/ArchivePics.zip"),
                   &names),
        0);
    const std::string member = "/camera/IMG_0001.jpg\n";  // under the camera folder's path
    EXPECT_TRUE(names.size() > member.size() &&
                names.compare(names.size() - member.size(), member.size(), member) == 0 &&
                names.find(' ') == std::string::npos)
        << names;
}

TEST_F(WindowTest, WarnsWhenTheRunningNumberCannotBeKept) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "picture");
    settingsPath = dir / "gone/tovaro.ini";  // a folder that isn't there: every write fails
    Open();
    SetFolders(dir / "camera", dir / "computer");
    Click("IDC_APPEND_NUMBER");
    Click("IDOK");
    EXPECT_TRUE(Exists(dir / "computer/IMG_0001 -0.jpg"));
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "The running number could not be saved in " + settingsPath + ".");
    EXPECT_EQ(prompts.boxes[0].style, kBoxOk | kBoxIconExclamation);
    EXPECT_EQ(Status(), "Status: Finished Moving Files!");
}

TEST_F(WindowTest, TellsWhereAnEarlierArchiveWasKept) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    WriteFile(dir / "camera/IMG_0001.JPG", "picture");
    WriteFile(dir / "computer/ArchivePics.zip", "an earlier archive");
    Open();
    SetFolders(dir / "camera", dir / "computer");
    Click("IDC_SEND_TO_ZIP");
    Click("IDOK");
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_NE(prompts.boxes[0].text.find("ArchivePics-1.zip"), std::string::npos) << prompts.boxes[0].text;
    EXPECT_EQ(prompts.boxes[0].style, kBoxOk);
    EXPECT_EQ(ReadFile(dir / "computer/ArchivePics-1.zip"), "an earlier archive");
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
        {kBoxOk, QMessageBox::NoIcon, QMessageBox::Ok, kAnswerOk},
        {kBoxOk | kBoxIconExclamation, QMessageBox::Warning, QMessageBox::Ok, kAnswerOk},
        {kBoxYesNo | kBoxIconQuestion, QMessageBox::Question, QMessageBox::Yes, kAnswerYes},
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
            EXPECT_EQ(box->text(), "Save Location? \n\n/a<b>&c");
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(
                box->standardButtons() & (QMessageBox::Yes | QMessageBox::No),
                (c.style & 0x0F) == kBoxYesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::NoButton);
            QTest::mouseClick(box->button(c.press), Qt::LeftButton);
        });
        EXPECT_EQ(prompts.MessageBox(&owner, "Save Location? \n\n/a<b>&c", "tovaro", c.style), c.answer);
        EXPECT_TRUE(seen);
    }
    EXPECT_FALSE(watchdog.Fired());
}

}  // namespace
