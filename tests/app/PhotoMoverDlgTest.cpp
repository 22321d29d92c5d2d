// The main window on real widgets, with stand-ins for the engine's passes that wait for the test: its form
// and rules, OK and its pass on a thread of its own, Cancel during a pass, what it tells after a pass, the
// browse buttons.
#include "app/PhotoMoverDlg.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <atomic>
#include <thread>

#include "app/DialogForm.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

class WindowTest : public ::testing::Test {
  protected:
    static constexpr int kFiles = 3;  // a pass takes three files, one by one as `released` allows
    TempDir dir;
    std::string settingsPath = dir / "tovaro.ini";
    ScriptedPrompts prompts;
    std::atomic<int> released{0}, started{0};
    transfer::TransferReport answer;  // what a pass reports besides its progress
    std::vector<std::string> calls;   // what each pass was given; written before `started` counts it
    const std::thread::id testThread = std::this_thread::get_id();
    std::unique_ptr<CPhotoMoverDlg> window;

    void TearDown() override { window.reset(); }  // stops a pass still waiting
    TransferPasses::Pass Fake(const std::string& name) {
        return [this, name](const std::string& from, const std::string& to, transfer::NameOption option,
                            transfer::NamingInputs& in, const SettingsFile&,
                            const transfer::PassOptions& options) {
            calls.push_back(name + " " + from + " " + to + " " + std::to_string(option) + " " + in.Text() +
                            "|" + in.NumberText() + "|" + in.RenameFind() + "|" + in.RenameNew() +
                            (in.IsNumberChecked() ? "|#" : "") +
                            (std::this_thread::get_id() == testThread ? "" : " apart"));
            ++started;
            transfer::TransferReport report = answer;
            for (int file = 1; file <= kFiles && !(report.cancelled = *options.cancel); ++file) {
                while (released < file && !*options.cancel) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (!*options.cancel) {
                    in.SetNumberText(std::to_string(file));
                    options.onProgress(file, kFiles);
                }
            }
            return report;
        };
    }
    void Open() {
        window = std::make_unique<CPhotoMoverDlg>(TransferPasses{Fake("move"), Fake("archive")},
                                                  SettingsFile(settingsPath), &prompts);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    bool StatusBecomes(const char* status) {
        return QTest::qWaitFor([&] { return Text("IDC_STATUS") == status; });
    }
    void RunToTheEnd() {
        released = kFiles;
        Click("IDOK");
        EXPECT_TRUE(StatusBecomes("Status: Finished Moving Files!"));
    }
    QWidget* W(const char* name) const { return window->findChild<QWidget*>(name); }
    QString Text(const char* name) const { return W(name)->property("text").toString(); }
    bool Checked(const char* name) const { return W(name)->property("checked").toBool(); }
    void Click(const char* name) { QTest::mouseClick(W(name), Qt::LeftButton); }
    static QString Focus() { return QApplication::focusWidget()->objectName(); }
    static std::string Home() { return qgetenv("HOME").toStdString(); }
};

// Positions are dialog units of the window's font, rounded to the nearest pixel, halves up; the controls are
// in tab order.
TEST_F(WindowTest, EveryControlIsWhereTheFormPutsItAndEachOptionEnablesItsBoxes) {
    const struct {
        const char *name, *kind, *text;
        int x, y, width, height;
    } controls[] = {
        {"IDOK", "QPushButton", "&OK", 262, 34, 50, 14},
        {"IDCANCEL", "QPushButton", "&Cancel", 262, 52, 50, 14},
        {"IDC_STATUS", "QLabel", "Status: Tovaro Utility", 7, 2, 305, 16},
        {"labelFrom", "QLabel", "&From (Camera Folder)", 7, 23, 120, 8},
        {"IDC_FROMDIR", "QLineEdit", "/media/me/CARD/DCIM", 7, 34, 233, 13},
        {"IDC_BROWSE_FROM", "QPushButton", "...", 244, 34, 11, 12},
        {"labelTo", "QLabel", "&To (Folder On Your Computer)", 7, 55, 120, 8},
        {"IDC_TODIR", "QLineEdit", "/home/me/Pictures", 7, 66, 233, 12},
        {"IDC_BROWSE_TO", "QPushButton", "...", 244, 66, 11, 12},
        {"IDC_APPEND_GROUP", "QGroupBox", "Append To File Name:", 7, 85, 172, 85},
        {"IDC_APPEND_NOTHING", "QRadioButton", "&Nothing:", 13, 98, 43, 10},
        {"IDC_APPEND_TEXT", "QRadioButton", "Te&xt:", 13, 111, 32, 10},
        {"IDC_TEXT", "QLineEdit", "", 54, 110, 117, 12},
        {"IDC_APPEND_DATE", "QRadioButton", "Date of &Photo:", 13, 124, 62, 10},
        {"IDC_APPEND_NUMBER", "QRadioButton", "Nu&mber:", 13, 138, 41, 10},
        {"IDC_NUMBER", "QLineEdit", "", 55, 138, 117, 12},
        {"IDC_APPEND_RENAME", "QRadioButton", "&Rename:", 13, 153, 41, 10},
        {"IDC_RENAME_FIND", "QLineEdit", "", 55, 153, 48, 12},
        {"labelRenameNew", "QLabel", "Ne&w", 107, 153, 16, 8},
        {"IDC_RENAME_NEW", "QLineEdit", "", 125, 153, 47, 12},
        {"IDC_SEND_TO_ZIP", "QCheckBox", "&Send Files To Zip:", 187, 89, 75, 12},
        {"ID_HELP", "QPushButton", "&Help", 262, 160, 50, 14},
    };
    EXPECT_EQ(DialogUnits({7, 15}).X(50), 88);  // 87.5
    EXPECT_EQ(DialogUnits({7, 15}).Y(12), 23);  // 22.5
    WriteFile(settingsPath, "[settings]\nfromdir=/media/me/CARD/DCIM\ntodir=/home/me/Pictures\n");
    Open();
    const DialogUnits u = DialogUnits::Of(window->font());
    EXPECT_EQ(window->windowTitle(), "Tovaro Utility");
    EXPECT_EQ(window->minimumSize(), QSize(u.X(319), u.Y(181)));
    EXPECT_EQ(window->maximumSize(), window->minimumSize());
    QStringList tabOrder, expected;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        tabOrder << (w->parent() == window.get() && w->focusPolicy() != Qt::NoFocus ? w->objectName() : "");
    }
    for (const auto& c : controls) {
        QWidget* widget = W(c.name);
        ASSERT_TRUE(widget != nullptr && widget->inherits(c.kind)) << c.name;
        EXPECT_EQ(widget->property(widget->inherits("QGroupBox") ? "title" : "text").toString(), c.text);
        EXPECT_EQ(widget->geometry(), QRect(u.X(c.x), u.Y(c.y), u.X(c.width), u.Y(c.height))) << c.name;
        expected << (widget->focusPolicy() == Qt::NoFocus ? "" : c.name);
    }
    tabOrder.removeAll("");
    expected.removeAll("");
    EXPECT_EQ(tabOrder, expected);
    EXPECT_TRUE(Checked("IDC_APPEND_NOTHING") && !Checked("IDC_SEND_TO_ZIP") && Focus() == "IDOK");
    std::string enabled;  // the Text, Number, Rename find and new boxes after a click on each option in turn
    for (const char* radio : {"IDC_APPEND_NOTHING", "IDC_APPEND_RENAME", "IDC_APPEND_TEXT",
                              "IDC_APPEND_NUMBER", "IDC_APPEND_DATE", "IDC_APPEND_NOTHING"}) {
        Click(radio);
        for (const char* box : {"IDC_TEXT", "IDC_NUMBER", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
            enabled += W(box)->isEnabled() ? "1" : "0";
        }
        enabled += " ";
    }
    EXPECT_EQ(enabled, "0000 0011 1000 0100 0000 0000 ");
}

// After a mnemonic the focus is on the control it names, as the focus rule of Text allows: while Text is
// chosen, its box keeps the focus. A Space that follows never ticks "Send Files To Zip" unasked.
TEST_F(WindowTest, MnemonicsPutTheFocusOnWhatTheyName) {
    const std::pair<const char*, const char*> cases[] = {
        {"xm", "IDC_APPEND_NUMBER"}, {"xp", "IDC_APPEND_DATE"}, {"xn", "IDC_APPEND_NOTHING"},
        {"xr", "IDC_APPEND_RENAME"}, {"xf", "IDC_TEXT"},        {"xs", "IDC_TEXT"},
        {"rw", "IDC_RENAME_NEW"},    {"pt", "IDC_TODIR"},
    };
    for (const auto& [keys, focus] : cases) {
        Open();
        for (const char* key = keys; *key != '\0'; ++key) {
            QTest::keyClick(window.get(), *key, Qt::AltModifier);
            QTest::qWait(150);  // a button's mnemonic clicks it a moment later
        }
        EXPECT_EQ(Focus(), focus) << keys;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(Checked("IDC_SEND_TO_ZIP"), keys[1] == 's') << keys;
    }
}

TEST_F(WindowTest, OkChecksTheFoldersThenRunsOnePassOffTheWindowsThread) {
    Open();
    W("IDC_TODIR")->setProperty("text", "");
    for (const char* from : {"", "/tmp"}) {  // both folders missing, then the destination only
        W("IDC_FROMDIR")->setProperty("text", from);
        Click("IDOK");
    }
    EXPECT_EQ(prompts.Asked(),
              "Please locate the directory for the camera.!\n"
              "Please locate the directory to move the images to.!\n");
    EXPECT_TRUE(prompts.caption == "window_tests" && prompts.owner == window.get() && started == 0 &&
                Text("IDC_STATUS") == "Status: Tovaro Utility");
    Open();  // a first start: the boxes show "~", the home folder
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(Text("IDC_NUMBER"), "~");  // no counter stored yet
    WriteFile(settingsPath, "[settings]\ncounter=41\n");
    QTest::keyClicks(W("IDC_NUMBER"), "5x");
    EXPECT_EQ(Text("IDC_NUMBER"), "~5");  // only digits from the keyboard
    Click("IDC_APPEND_NUMBER");           // every click loads the stored counter
    W("IDC_TODIR")->setProperty("text", "~/Pictures");
    QTest::keyClick(W("IDC_TODIR"), Qt::Key_Return);  // Enter in a box is OK
    EXPECT_EQ(Text("IDC_STATUS"), "Status: Working...");
    ASSERT_TRUE(QTest::qWaitFor([&] { return started == 1; }));
    EXPECT_EQ(calls[0], "move " + Home() + " " + Home() + "/Pictures 3 |41|||# apart");

    QTest::keyClick(window.get(), Qt::Key_Return);  // all of this during the pass starts nothing
    QTest::keyClick(window.get(), 'o', Qt::AltModifier);
    for (const char* control : {"IDOK", "IDC_BROWSE_FROM", "IDC_APPEND_RENAME", "IDC_SEND_TO_ZIP"}) {
        Click(control);
    }
    released = 2;  // the event loop runs: the status line and the number box follow the pass
    EXPECT_TRUE(StatusBecomes("Status: Working... 2 of 3"));
    EXPECT_EQ(Text("IDC_NUMBER"), "2");
    released = 3;
    EXPECT_TRUE(StatusBecomes("Status: Finished Moving Files!"));
    QTest::qWait(100);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(Text("IDC_FROMDIR") + Text("IDC_NUMBER"), "~3");  // the box keeps what was typed
    EXPECT_TRUE(Checked("IDC_APPEND_NUMBER") && !Checked("IDC_SEND_TO_ZIP") && prompts.Asked().empty());
    EXPECT_TRUE(W("IDOK")->isEnabled() && W("IDC_NUMBER")->isEnabled() && !W("IDC_TEXT")->isEnabled());
    Click("IDC_SEND_TO_ZIP");
    RunToTheEnd();
    EXPECT_EQ(calls.at(1).substr(0, 8), "archive ");
}

TEST_F(WindowTest, CancelDuringAPassStopsItAfterTheFileInHandThenCloses) {
    const std::function<void(CPhotoMoverDlg*)> cancels[] = {
        [](CPhotoMoverDlg* w) { QTest::mouseClick(w->findChild<QWidget*>("IDCANCEL"), Qt::LeftButton); },
        [](CPhotoMoverDlg* w) { w->OnSysCommand(0xF062, 0); },  // Close in the window menu
    };
    for (const auto& cancel : cancels) {
        released = 1;
        Open();
        Click("IDOK");
        ASSERT_TRUE(StatusBecomes("Status: Working... 1 of 3"));
        cancel(window.get());
        EXPECT_EQ(Text("IDC_STATUS"), "Status: Working... 1 of 3, stopping");
        EXPECT_TRUE(window->isVisible());  // until the pass has ended
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
        EXPECT_EQ(window->result(), QDialog::Rejected);
    }
    EXPECT_EQ(prompts.Asked(), "");
}

TEST_F(WindowTest, AfterThePassOneBoxTellsWhatWentWrongAndWhatStayedBehind) {
    transfer::TransferReport clean, problem, stayed, failed, counter, notice;
    problem.problem = "cannot read the camera folder";
    stayed.leftBehind = {{".cr2", 10}, {".mp4", 4}};
    for (int i = 1; i <= 13; ++i) {  // a file that was moved, and twelve that were not
        failed.items.push_back(
            {std::to_string(i), "", i < 13 ? transfer::Outcome::Kept : transfer::Outcome::Done, "full"});
    }
    counter.counterError = "the running number could not be saved in /x/tovaro.ini";
    notice.notice = "The earlier archive is kept as ArchivePics-1.zip.";
    const std::tuple<const transfer::TransferReport&, bool, std::string> cases[] = {
        {clean, false, ""},
        {problem, false, "Nothing was moved: cannot read the camera folder.!\n"},
        {stayed, false, "14 other files stay in the camera folder (.cr2 \u00d710, .mp4 \u00d74).!\n"},
        {failed, false,
         "12 of 13 files could not be moved:\n\n1: full\n2: full\n3: full\n4: full\n5: full\n"
         "6: full\n7: full\n8: full\n9: full\n10: full\n... and 2 more.!\n"},
        {counter, false, "The running number could not be saved in /x/tovaro.ini.!\n"},
        {notice, true, "The earlier archive is kept as ArchivePics-1.zip.\n"},  // no warning
        {problem, true, "Nothing was archived: cannot read the camera folder.!\n"},
    };
    for (const auto& [report, archive, asked] : cases) {
        answer = report;
        Open();
        W("IDC_SEND_TO_ZIP")->setProperty("checked", archive);
        RunToTheEnd();
        EXPECT_EQ(prompts.Asked(), asked);
    }
}

TEST_F(WindowTest, BrowseButtonsStartAtTheBoxsFolderAndAskToSaveTheChoice) {
    const std::string fromAsked = "picker Select from directory at /from\nSave Location? \n\n",
                      toAsked = "picker Select to directory at ",
                      unsaved = toAsked + Home() +
                                "\nSave Location? \n\n/home/me?\nThe location could not be saved in " +
                                dir / "no/tovaro.ini.!\n";  // "~" is the home folder; "no" is no folder
    const struct {
        const char* button;
        std::deque<std::string> script;  // the folder chosen ("" cancels), the answer to "Save Location?"
        std::string asked, shown, stored;
    } cases[] = {
        {"IDC_BROWSE_FROM", {"/media/a", "yes"}, fromAsked + "/media/a?\n", "/media/a", "/media/a"},
        {"IDC_BROWSE_FROM", {"/media/b", "no"}, fromAsked + "/media/b?\n", "/media/b", "/from"},
        {"IDC_BROWSE_TO", {""}, toAsked + "/to\n", "/to", "/to"},
        {"IDC_BROWSE_TO", {"/home/me", "yes"}, unsaved, "/home/me", "~"},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "tovaro.ini", "[settings]\nfromdir=/from\ntodir=/to\n");
        settingsPath = c.stored == "~" ? dir / "no/tovaro.ini" : dir / "tovaro.ini";
        Open();
        prompts.script = c.script;
        Click(c.button);
        EXPECT_TRUE(prompts.Asked() == c.asked && prompts.owner == window.get()) << c.asked;
        const bool from = c.button == std::string("IDC_BROWSE_FROM");
        EXPECT_EQ(Text(from ? "IDC_FROMDIR" : "IDC_TODIR").toStdString(), c.shown);
        EXPECT_EQ(SettingsFile(settingsPath).Read(from ? "fromdir" : "todir"), c.stored);
    }
}

}  // namespace
