// The main window on real widgets, with stand-ins for the engine's passes that wait for the test: its form
// and rules, OK and its pass on a thread of its own, Cancel during a pass, what it tells after a pass, the
// browse buttons.
#include "app/PhotoMoverDlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTreeWidget>

#include "app/DialogForm.h"
#include "desktop/DesktopBus.h"
#include "resources/Forms.h"
#include "resources/ResourceIds.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"
#include "transfer/ArchivePass.h"
#include "transfer/ImportLog.h"
#include "transfer/MovePass.h"

using namespace testsupport;
using namespace transfer;

namespace {

struct WindowTest : ::testing::Test {
    TempDir dir;
    std::string settingsPath = dir / "tovaro.ini";
    ScriptedPrompts prompts;
    std::atomic<int> released{0};    // a pass takes three files, one by one as this allows
    TransferReport answer;           // what a pass reports besides its progress
    std::vector<std::string> calls;  // what each pass was given; read once its progress is seen, or after it
    // The desktop's services: a card reader that ejects, and a notification service; what each was asked.
    struct FakeDesktop : DiskService, desktop::Notifier {
        std::string asked;
        std::optional<Disk> Find(uint64_t, std::string&) override { return Disk{"fs", "drive", true, false}; }
        StepResult Unmount(const Disk&) override {
            asked += "unmount\n";
            return StepResult::Ok();
        }
        StepResult PowerOff(const Disk&) override { return StepResult::Ok(); }
        void Notify(const std::string& summary, const std::string& body) override {
            asked += summary + ": " + body + "\n";
        }
    } desktop;
    std::unique_ptr<CPhotoMoverDlg> window;  // last: it goes first, and stops a pass still waiting

    TransferPasses::Pass Fake(const std::string& name) {
        return [this, name](auto& from, auto& to, auto option, auto& in, auto&, auto& options) {
            calls.push_back(name + " " + from + " " + to + " " + std::to_string(option) + " " +
                            in.NumberText() + (in.IsNumberChecked() ? "#" : ""));
            // Each file as soon as it is released; a cancel is seen between files. A pass on the window's
            // thread would wait in vain, as the test can't release it: it gives up after ten seconds.
            for (int file = 0, tries = 0; file < 3 && !*options.cancel && ++tries < 10000; QTest::qSleep(1)) {
                if (released > file) {
                    in.SetNumberText(std::to_string(++file));
                    options.onProgress(file, 3);
                }
            }
            return answer;
        };
    }
    // Opens the window; on the settings file's keys, when some are given.
    void Open(const std::string& settings = "", bool realPasses = false) {
        if (!settings.empty()) {
            WriteFile(settingsPath, "[settings]\n" + settings);
        }
        qputenv("XDG_RUNTIME_DIR", dir.Path().c_str());  // where a transfer says which drive it uses
        window = std::make_unique<CPhotoMoverDlg>(realPasses ? TransferPasses{&MovePass, &ArchivePass}
                                                             : TransferPasses{Fake("move"), Fake("archive")},
                                                  SettingsFile(settingsPath), &prompts);
        window->SetDesktop({&desktop, &desktop, std::chrono::milliseconds(0)});
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    bool StatusBecomes(const char* text = "Status: Finished Moving Files!") {
        return QTest::qWaitFor([&] { return Text("IDC_STATUS") == text; });
    }
    QWidget* W(const char* name) const { return window->findChild<QWidget*>(name); }
    QString Text(const char* name) const { return W(name)->property("text").toString(); }
    bool Checked(const char* name) const { return W(name)->property("checked").toBool(); }
    void Click(const char* name) { QTest::mouseClick(W(name), Qt::LeftButton); }
    // The window menu's entries that can be chosen now, Close and About left out.
    QString MenuEntriesOn() const {
        QString on;
        for (const QAction* entry : window->findChildren<QAction*>()) {
            on += entry->isEnabled() && !entry->objectName().isEmpty() ? entry->objectName() + ' ' : "";
        }
        return on;
    }
};

// The widgets are the form table's: of its kinds, with its texts, at its positions in dialog units of the
// window's font (rounded to the nearest pixel, halves up), in its order for Tab. The texts themselves are the
// table's data (the mnemonics' test presses them); only the status line and the folder boxes, set as the
// window opens, say something else ("~" in the boxes: the first pass's test).
TEST_F(WindowTest, EveryControlIsWhereTheFormPutsIt) {
    const char* const kinds[] = {"QPushButton", "QLabel",       "QLabel",   "QGroupBox",
                                 "QLineEdit",   "QRadioButton", "QCheckBox"};  // by resources::ControlKind
    Open();
    const DialogUnits u = DialogUnits::Of(window->font());
    EXPECT_EQ(window->maximumSize(), window->minimumSize());
    EXPECT_EQ(window->minimumSize(), QSize(u.X(319), u.Y(181)));
    QString tabs, expected;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        tabs += w->parent() == window.get() && w->focusPolicy() != Qt::NoFocus ? w->objectName() + ' ' : "";
    }
    for (const resources::ControlTemplate& t : resources::MainForm().controls) {
        QWidget* w = W(t.name);
        ASSERT_TRUE(w != nullptr && w->inherits(kinds[int(t.kind)])) << t.name;
        EXPECT_EQ(w->geometry(), QRect(u.X(t.x), u.Y(t.y), u.X(t.width), u.Y(t.height))) << t.name;
        expected += w->focusPolicy() == Qt::NoFocus ? "" : QString(t.name) + ' ';
        if (t.kind != resources::ControlKind::Edit && t.id != IDC_STATUS) {
            EXPECT_EQ(w->property(w->inherits("QGroupBox") ? "title" : "text").toString(), QString(t.text))
                << t.name;
        }
    }
    EXPECT_EQ(tabs, expected);
    EXPECT_TRUE(Checked("IDC_APPEND_NOTHING") && !Checked("IDC_SEND_TO_ZIP") && W("IDOK")->hasFocus());
}

// After a mnemonic the focus is on the control it names, as the focus rule of Text allows: while Text is
// chosen, its box keeps the focus. A Space that follows never ticks "Send Files To Zip" unasked. The option
// chosen enables its own boxes, and only those.
TEST_F(WindowTest, MnemonicsPutTheFocusOnWhatTheyNameAndTheOptionEnablesItsBoxes) {
    // The keys pressed with Alt; the control with the focus; the Text, Number, Rename find and new boxes
    // enabled.
    const std::tuple<const char*, const char*, const char*> cases[] = {{"xm", "IDC_APPEND_NUMBER", "0100"},
                                                                       {"xf", "IDC_TEXT", "1000"},
                                                                       {"xs", "IDC_TEXT", "1000"},
                                                                       {"rw", "IDC_RENAME_NEW", "0011"},
                                                                       {"rmn", "IDC_APPEND_NOTHING", "0000"}};
    for (const auto& [keys, focus, boxes] : cases) {
        Open();
        for (const char* key = keys; *key != '\0'; ++key) {
            QTest::keyClick(window.get(), *key, Qt::AltModifier);
            QTest::qWait(150);  // a button's mnemonic clicks it a moment later
        }
        QString enabled = QApplication::focusWidget()->objectName();
        for (const char* box : {"IDC_TEXT", "IDC_NUMBER", "IDC_RENAME_FIND", "IDC_RENAME_NEW"}) {
            enabled += W(box)->isEnabled() ? "1" : "0";
        }
        EXPECT_EQ(enabled, focus + QString(boxes)) << keys;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(Checked("IDC_SEND_TO_ZIP"), keys[1] == 's') << keys;
    }
}

TEST_F(WindowTest, OkChecksTheFoldersThenRunsOnePassOffTheWindowsThread) {
    Open("fromdir=\ntodir=\n");
    Click("IDOK");  // both folders missing, then the destination only
    EXPECT_EQ(prompts.Asked(), "Please locate the directory for the camera.!\n");
    W("IDC_FROMDIR")->setProperty("text", "/tmp");
    Click("IDOK");
    EXPECT_EQ(prompts.Asked(), "Please locate the directory to move the images to.!\n");
    EXPECT_TRUE(prompts.caption == "window_tests" && prompts.owner == window.get() &&
                Text("IDC_STATUS") == "Status: Tovaro Utility");
    Open("counter=41\n");  // no folder stored: the boxes show "~"; "~/" is the home folder
    Click("IDC_APPEND_NUMBER");
    QTest::keyClicks(W("IDC_NUMBER"), "5x");
    EXPECT_EQ(Text("IDC_NUMBER"), "415");             // only digits from the keyboard
    Click("IDC_APPEND_NUMBER");                       // every click loads the stored counter
    QTest::keyClicks(W("IDC_TODIR"), "/Pictures\r");  // Enter in a box is OK
    EXPECT_EQ(Text("IDC_STATUS"), "Status: Working...");

    QTest::keyClick(window.get(), Qt::Key_Return);  // all of this during the pass starts nothing
    EXPECT_EQ(MenuEntriesOn(), "");
    for (const char* control : {"IDOK", "IDC_BROWSE_FROM", "IDC_APPEND_RENAME", "IDC_SEND_TO_ZIP"}) {
        Click(control);
    }
    released = 2;  // the event loop runs: the status line follows the pass
    ASSERT_TRUE(StatusBecomes("Status: Working... 2 of 3"));
    // A lone "~" goes to the pass as it is: no folder, and not the home folder (see the tovaro-cli runs).
    EXPECT_EQ(calls.at(0), "move ~ " + qgetenv("HOME").toStdString() + "/Pictures 3 41#");
    released = 3;
    EXPECT_TRUE(StatusBecomes());
    EXPECT_EQ(Text("IDC_FROMDIR") + Text("IDC_NUMBER"), "~3");  // the box keeps what was typed
    EXPECT_TRUE(Checked("IDC_APPEND_NUMBER") && !Checked("IDC_SEND_TO_ZIP") && prompts.Asked().empty());
    EXPECT_TRUE(W("IDOK")->isEnabled() && W("IDC_NUMBER")->isEnabled() && !W("IDC_TEXT")->isEnabled());
    EXPECT_EQ(MenuEntriesOn(), "previewEntry showLastTransfer undoLastTransfer optionsEntry ");
    QTest::qWait(100);
    EXPECT_EQ(calls.size(), 1u);  // nothing done during the pass starts another now
}

// The window stays until the pass has ended, then tells what was done.
TEST_F(WindowTest, CancelDuringAPassStopsItAfterTheFileInHandThenCloses) {
    released = 1;
    answer.items = {{"IMG_0001.JPG", "IMG_0001.jpg", Outcome::Done, "", ""}};
    answer.cancelled = true;
    for (const bool fromMenu : {false, true}) {  // Esc; Close in the window menu
        Open();
        Click("IDOK");
        ASSERT_TRUE(StatusBecomes("Status: Working... 1 of 3"));
        fromMenu ? window->OnSysCommand(0xF062, 0) : QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(Text("IDC_STATUS"), "Status: Working... 1 of 3, stopping");
        EXPECT_TRUE(window->isVisible());  // until the pass has ended
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
        EXPECT_EQ(window->result(), QDialog::Rejected);
        EXPECT_EQ(prompts.Asked(), "Moved 1 of 3 files; the others are still in the camera folder.\n");
    }
}

// A box after the pass says, in one warning, why nothing was taken, what could not be, the camera's files
// that stay behind and a running number that was not kept; what is only worth knowing (other files, videos
// the archive leaves) comes without a warning; a pass that went as asked says nothing.
TEST_F(WindowTest, AfterThePassOneBoxTellsWhatWentWrongAndWhatStayedBehind) {
    TransferReport unreadable, failed, notice, done;
    done.items = {{"a.jpg", "a.jpg", Outcome::Done, "", ""}};
    unreadable.problem = "cannot read the camera folder";
    notice.notice = "The earlier archive is kept as ArchivePics-1.zip.";
    notice.leftBehind = {{".mp4", 4}, {".thm", 1}};
    failed.counterError = "the running number could not be saved in /x/tovaro.ini";
    failed.leftBehind = {{".cr2", 10}, {".mp4", 4}};
    std::string listed;  // a file that was moved, and twelve that were not: the first ten are listed
    for (int i = 1; i <= 13; ++i) {
        failed.items.push_back({std::to_string(i), "", i < 13 ? Outcome::Kept : Outcome::Done, "full", ""});
        listed += i <= 10 ? std::to_string(i) + ": full\n" : "";
    }
    // What the pass reports, whether it archived, the box.
    const std::tuple<TransferReport, bool, std::string> cases[] = {
        {unreadable, true, "Nothing was archived: cannot read the camera folder.!\n"},
        {failed, false,
         "12 of 13 files could not be moved:\n\n" + listed +
             "... and 2 more.\n\n14 other files stay in the camera folder "
             "(.cr2 \u00d710, .mp4 \u00d74). Options... in the window menu (right-click the window) can have "
             "them "
             "taken too.\n\nThe running number could not be saved in /x/tovaro.ini.!\n"},
        {notice, true,  // no warning
         "5 other files stay in the camera folder (.mp4 \u00d74, .thm).\n\nThe earlier archive is kept as "
         "ArchivePics-1.zip.\n"},
        {done, false, "You can remove the card.\n"},  // the one with eject=1
    };
    released = 3;
    for (const auto& [report, archive, asked] : cases) {
        answer = report;
        Open("eject=" + std::to_string(report.items.size() == 1) + "\nfromdir=" + dir.Path() + "\n");
        W("IDC_SEND_TO_ZIP")->setProperty("checked", archive);
        Click("IDOK");
        EXPECT_TRUE(StatusBecomes());
        EXPECT_EQ(calls.back().substr(0, 4) + " " + prompts.Asked(), (archive ? "arch " : "move ") + asked);
    }
    // The card is ejected as the settings ask (when, and what the box then says: the eject rule's own test),
    // after the one pass above with eject=1; the desktop hears of a pass that ended while the window was not
    // in front, and only of that one.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    Click("IDOK");
    EXPECT_TRUE(StatusBecomes());
    EXPECT_EQ(desktop.asked,
              "unmount\nunmount\nTovaro: transfer finished: Moved 1 of 1 file. You can remove the "
              "card.\n");
}

// Options shows the keys of the settings file in plain words and stores them all in one write, beside what
// the file held; a value that a transfer could not use is refused with the reason and the file stays as it
// was; Cancel changes nothing.
TEST_F(WindowTest, OptionsShowAndStoreEveryKeyAndRefuseWhatATransferCantUse) {
    Open("counter=7\nmoveextensions=.jpg .CR2\nrecurse=1\ndatesource=capture\nfolders=%Y\n");
    const auto options = [this](const std::function<void(QDialog&)>& steps) {
        prompts.dialog = steps;
        window->findChild<QAction*>("optionsEntry")->trigger();
        return ReadFile(settingsPath);
    };
    const auto Press = [this](const char* name) { QMetaObject::invokeMethod(W(name), "click"); };
    QString shown;
    EXPECT_EQ(
        options([&](QDialog& d) {
            for (const char* name : {"moveExtensions", "zipExtensions", "folderPattern", "folderExample"}) {
                shown += Text(name) + "|";
            }
            for (const char* name : {"todaysFiles", "recurse", "dateFromCapture", "datedFolders", "eject"}) {
                shown += Checked(name) ? "1" : "0";
            }
            Press("openSettingsFolder");
            Press("todaysFiles");
            W("recurse")->setProperty("checked", false);
            W("dateFromFile")->setProperty("checked", true);
            W("folderPattern")->setProperty("text", "%Y/%m-%d");
            W("eject")->setProperty("checked", true);
            d.accept();
        }),
        "[settings]\ncounter=7\nmoveextensions=.jpg .heic .png .arw .cr2 .cr3 .dng .nef .nrw .orf .pef .raf "
        ".rw2 .srw .xmp .mp4 .mov .mts\nrecurse=0\ndatesource=file\nfolders=%Y/%m-%d\nzipextensions=.bmp "
        ".gif .jpeg .jpg .heic .png .arw .cr2 .cr3 .dng .nef .nrw .orf .pef .raf .rw2 .srw .xmp\neject=1\n"
        "compression=standard\n");
    EXPECT_EQ(shown.toStdString(), ".jpg .cr2|.bmp .gif .jpeg .jpg|%Y|A picture taken now goes into " +
                                       std::to_string(QDate::currentDate().year()) + "/|01110");
    const std::string after = ReadFile(settingsPath);
    EXPECT_EQ(options([&](QDialog& d) {
                  W("folderPattern")->setProperty("text", "../%Y");
                  d.accept();
              }),
              after);
    EXPECT_EQ(options([&](QDialog& d) {
                  Press("todaysFiles");  // takes them out
                  EXPECT_EQ(Text("zipExtensions"), ".bmp .gif .jpeg .jpg");
                  d.reject();
              }),
              after);
    EXPECT_EQ(
        prompts.Asked(),
        "dialog COptionsDlg\nopen " + dir.Path() +
            "\ndialog COptionsDlg\nNothing was saved. folders= can't be \"../%Y\": its level \"..\" would "
            "leave the destination folder.!\ndialog COptionsDlg\n");
}

TEST_F(WindowTest, BrowseButtonsStartAtTheBoxsFolderAndAskToSaveTheChoice) {
    const std::string save = "Save Location? \n\n", from = "picker Select from directory at /from\n" + save;
    // The button, the folder chosen ("" cancels), the answer to "Save Location?", what was asked, the folders
    // in the boxes and in the settings file ("~": there is no settings file, nor a folder for it).
    const std::tuple<const char*, const char*, const char*, std::string, const char*, std::string> cases[] = {
        {"IDC_BROWSE_FROM", "/media/a", "yes", from + "/media/a?\n", "/media/a /to", "/media/a /to"},
        {"IDC_BROWSE_FROM", "/media/b", "no", from + "/media/b?\n", "/media/b /to", "/from /to"},
        {"IDC_BROWSE_TO", "", "", "picker Select to directory at /to\n", "/from /to", "/from /to"},
        {"IDC_BROWSE_TO", "/home/me", "yes",
         "picker Select to directory at ~\n" + save + "/home/me?\nThe location could not be saved in " +
             dir / "no/tovaro.ini.!\n",
         "~ /home/me", "~ ~"},
    };
    for (const auto& [button, folder, reply, asked, boxes, stored] : cases) {
        WriteFile(dir / "tovaro.ini", "[settings]\nfromdir=/from\ntodir=/to\n");
        settingsPath = stored == "~ ~" ? dir / "no/tovaro.ini" : dir / "tovaro.ini";
        Open();
        std::tie(prompts.folder, prompts.answer) = std::tie(folder, reply);
        Click(button);
        EXPECT_TRUE(prompts.Asked() == asked && prompts.owner == window.get()) << asked;
        EXPECT_EQ(Text("IDC_FROMDIR") + ' ' + Text("IDC_TODIR"), boxes);
        EXPECT_EQ(SettingsFile(settingsPath).Read("fromdir") + " " + SettingsFile(settingsPath).Read("todir"),
                  stored);
    }
}

// The preview (F5) lists what OK would do in the transfer's own words, anew as an option changes; its OK runs
// just what it listed: a file that appeared meanwhile stays. The window menu then shows that transfer, and
// undoes it after a Yes (not after a No).
TEST_F(WindowTest, PreviewListsWhatOkWouldDoItsOkRunsJustThatAndTheMenuUndoesIt) {
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir / "state"));
    MakeFolder(dir / "cam");
    MakeFolder(dir / "to");
    WriteFile(dir / "cam/A.JPG", "a");
    WriteFile(dir / "cam/B.JPG", "b");
    WriteFile(dir / "to/B.jpg", "another");
    Open("fromdir=" + dir / "cam\ntodir=" + dir / "to\ncounter=41\n", /*realPasses=*/true);
    QTest::keyClick(window.get(), Qt::Key_F5);
    const auto listed = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return W("previewOk")->isEnabled(); }));
        QString rows;
        auto* list = window->findChild<QTreeWidget*>("previewList");
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            for (int column = 0; column < 3; ++column) {
                rows += list->topLevelItem(i)->text(column) + (column < 2 ? " " : "|");
            }
        }
        return rows + Text("previewCount");
    };
    EXPECT_EQ(listed(),
              "A.JPG A.jpg moved|B.JPG B.jpg would not be moved: a file with that name already exists|1 of 2 "
              "files would be moved. 1 would stay.");
    Click("IDC_APPEND_NUMBER");
    EXPECT_EQ(listed(), "A.JPG A -41.jpg moved|B.JPG B -42.jpg moved|2 of 2 files would be moved.");
    WriteFile(dir / "cam/0.JPG", "came later, first in name order");
    Click("previewOk");
    EXPECT_TRUE(StatusBecomes());
    EXPECT_EQ(ListNames(dir / "to"), (std::vector<std::string>{"A -41.jpg", "B -42.jpg", "B.jpg"}));
    EXPECT_NE(prompts.Asked().find("0.JPG: it appeared after the preview, so it was not taken"),
              std::string::npos);

    const auto entry = [&](const char* name) { return window->findChild<QAction*>(name); };
    entry("showLastTransfer")->trigger();
    std::optional<ImportLog> running = *ImportLog::Open(ImportLogFolder());  // another's
    ASSERT_TRUE(running->TryHoldForTransfer());
    entry("undoLastTransfer")->trigger();
    running.reset();
    entry("undoLastTransfer")->trigger();
    prompts.answer = "yes";
    entry("undoLastTransfer")->trigger();  // off the window's thread, the form kept still meanwhile
    EXPECT_EQ(MenuEntriesOn() + Text("IDC_STATUS"), "Status: Undoing the last transfer...");
    EXPECT_TRUE(QTest::qWaitFor([&] { return entry("undoLastTransfer")->isEnabled(); }));
    entry("undoLastTransfer")->trigger();
    const std::string undo = "Undo the transfer of T?\n\n2 files go back from " + dir / "to to " +
                             dir / "cam" + ", where their old names are free.?\n";
    EXPECT_EQ(QString::fromStdString(prompts.Asked())
                  .replace(QRegularExpression("[-0-9]{10}T[:0-9]{8}Z"), "T")
                  .toStdString(),
              "The transfer of T moved 2 of 2 files from " + dir / "cam to " + dir / "to" +
                  ".\n\nA.JPG -> A -41.jpg\nB.JPG -> B -42.jpg\nA transfer is running: undo once it has "
                  "finished.!\n" +
                  undo + undo +
                  "2 of 2 files went back to their old names.\n\nThe running number is not wound back.\n"
                  "There is no transfer to undo.\n");
    EXPECT_EQ(ListNames(dir / "cam"), (std::vector<std::string>{"0.JPG", "A.JPG", "B.JPG"}));
    qputenv("XDG_STATE_HOME", state);
}

}  // namespace
