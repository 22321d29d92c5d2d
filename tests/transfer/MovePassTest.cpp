#include "transfer/History.h"
#include "transfer/MovePass.h"
#include "transfer/PassSettings.h"

#include <gtest/gtest.h>

#include "platform/File.h"
#include "platform/Time.h"
#include "settings/SettingsFile.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"
#include "transfer/CaptureDateReader.h"
#include "transfer/CounterKeeper.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

const std::string kJpeg = "\xFF\xD8\xFF\xD9";  // a JPEG without metadata

class MovePassTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }
    // Files in the camera folder that hold their names, or `contents`.
    void Put(const Names& names, const std::string& contents = "") {
        for (const std::string& name : names) {
            WriteFile(m_from + "/" + name, contents.empty() ? "contents of " + name : contents);
        }
    }
    TransferReport Run(NameOption option, const PassOptions& options = {}) {
        return MovePass(m_from, m_to, option, m_inputs, m_settings, options);
    }
    // The date Date of Photo gives a file by its own time.
    std::string DateOf(const std::string& name) {
        return platform::LocalDateMMDDYY(platform::InfoOfPath(m_from + "/" + name)->CreationTime().tv_sec)
            .erase(2, 1)
            .erase(4, 1);
    }
    void UseNumber(const std::string& shown) {
        m_inputs.numberText = shown;
        m_inputs.numberChecked = true;
    }
    // Records the day the camera took them in pictures of the camera folder ("2020:01:02 00:00:00").
    void SetCaptureDate(const std::string& date, const std::string& names) {
        const std::string set = " && exiv2 -M'set Exif.Photo.DateTimeOriginal " + date + "' ";
        ASSERT_EQ(RunCommand("cd " + ShellQuote(m_from) + set + names), 0);
    }
    // A line for each item of the report.
    template <typename Line>
    static Names Lines(const TransferReport& report, Line line) {
        Names lines;
        for (const TransferItem& item : report.items) {
            lines.push_back(line(item));
        }
        return lines;
    }

    TempDir m_dir;
    std::string m_from = m_dir / "camera";
    std::string m_to = m_dir / "computer";
    SettingsFile m_settings{m_dir / "tovaro.ini"};
    PlainNamingInputs m_inputs;
};

TEST_F(MovePassTest, MovesPicturesVideosAndFoldersWithThoseNamesAndCountsTheRest) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt", "IMG.0001.JPG", "README", ".hidden.txt"});
    MakeFolder(m_from + "/holiday.JPG");
    WriteFile(m_from + "/holiday.JPG/inside.txt", "inside");
    EXPECT_EQ(LeftBehindText(Run(kNameNothing)),
              "3 other files stay in the camera folder (no extension, .jpg, .txt)");
    EXPECT_EQ(ListNames(m_to), (Names{"CLIP0002.avi", "IMG_0001.jpg", "holiday.jpg"}));
    EXPECT_EQ(ListNames(m_from), (Names{".hidden.txt", "IMG.0001.JPG", "README", "notes.txt"}));
    EXPECT_EQ(ReadFile(m_to + "/holiday.jpg/inside.txt"), "inside");
    EXPECT_FALSE(Exists(m_settings.Path()));  // only Number keeps a counter
}

// A file that is not moved stays where it was, whatever stands at its new name stays too, and its number
// is used up all the same. Numbers follow the names' order.
TEST_F(MovePassTest, AFileNotMovedStaysAndUsesUpItsNumber) {
    // The destination, below the test's folder, and why the first file stays. (A failing rename: the sweep;
    // what the summary says of a destination that does not exist: the end-to-end CLI table.)
    const std::pair<std::string, std::string> cases[] = {
        {"computer", ""},
        {"taken", "a file with that name already exists"},
        {"none", "the destination folder does not exist"},
    };
    MakeFolder(m_dir / "taken");
    WriteFile(m_dir / "taken/IMG_0001 -41.jpg", "already here");
    for (const auto& [to, reason] : cases) {
        SCOPED_TRACE(reason);
        Put({"IMG_0002.JPG", "IMG_0001.JPG"});
        m_to = m_dir / to;
        UseNumber("41");
        EXPECT_EQ(
            Lines(Run(kNameNumber), [](auto& item) { return item.newName + ": " + item.reason; }),
            (Names{"IMG_0001 -41.jpg: " + reason, "IMG_0002 -42.jpg: " + (to == "none" ? reason : "")}));
        EXPECT_EQ(Exists(m_from + "/IMG_0001.JPG"), !reason.empty());
        EXPECT_EQ(m_settings.Read("counter"), "43");
    }
    EXPECT_EQ(ReadFile(m_dir / "taken/IMG_0001 -41.jpg"), "already here");
}

TEST_F(MovePassTest, UnsafeNewNamesAreNeverUsedAndADryRunChangesNothing) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG"});
    WriteFile(m_to + "/IMG_0002 -12.jpg", "x");
    UseNumber("11");
    PassOptions dryRun;
    dryRun.dryRun = true;
    const TransferReport report = Run(kNameNumber, dryRun);
    EXPECT_EQ(report.Done(), 1u);
    EXPECT_EQ(report.items[1].reason, "a file with that name already exists");
    EXPECT_FALSE(Exists(m_settings.Path()));
    m_inputs.renameFind = "IMG_";
    m_inputs.renameNew = "../";  // as any name the naming rules refuse (their own test lists them)
    EXPECT_EQ(Run(kNameRename).Failed(), 2u);
    EXPECT_EQ(ListNames(m_from), (Names{"IMG_0001.JPG", "IMG_0002.JPG"}));
    EXPECT_EQ(ListNames(m_to), Names{"IMG_0002 -12.jpg"});
    EXPECT_FALSE(Exists(m_dir / "0001.jpg"));
}

TEST_F(MovePassTest, TheSameFolderRenamesEachFileOnceInPlace) {
    Put({"IMG_0002.jpg", "IMG_0001.JPG", "notes.txt"});
    const std::string date = DateOf("IMG_0001.JPG");
    m_to = m_from;
    EXPECT_EQ(Run(kNameDate).Done(), 2u);
    EXPECT_EQ(ListNames(m_from),
              (Names{"IMG_0001 -" + date + ".jpg", "IMG_0002 -" + date + ".jpg", "notes.txt"}));
    Put({"a -1.jpg", "a.jpg"});  // the second takes the name the first leaves, in the dry run too
    m_inputs.renameFind = "a";
    m_inputs.renameNew = "a -1";
    PassOptions dryRun;
    dryRun.dryRun = true;
    EXPECT_EQ(Run(kNameRename, dryRun).Failed(), 0u);
    EXPECT_EQ(Run(kNameRename).Failed(), 0u);
    EXPECT_TRUE(Exists(m_from + "/a -1 -1.jpg") && Exists(m_from + "/a -1.jpg"));
}

// A card keeps its pictures in numbered folders. Only with recurse=1 are they walked (hidden ones not), in
// name order on every file system. (All into the one destination folder: the sweep; a clash between two of
// them there: the end-to-end CLI table.) A value of the settings that can't be used is refused by its key.
TEST_F(MovePassTest, ACardsFoldersAreWalkedInNameOrderWhenTheSettingsSaySo) {
    for (const std::string base : {"", "/dev/shm"}) {
        TempDir dir(base);
        m_from = dir / "DCIM", m_to = dir / "computer", m_settings = SettingsFile(dir / "tovaro.ini");
        for (const std::string folder : {"", "/101CANON", "/100CANON", "/.Trashes", "/../computer"}) {
            MakeFolder(m_from + folder);
        }
        Put({"101CANON/IMG_0001.JPG", "100CANON/IMG_0003.JPG", "100CANON/IMG_0002.JPG", ".Trashes/old.jpg"});
        EXPECT_NE(Run(kNameNothing).notice.find("subfolders hold 3"), std::string::npos);
        WriteFile(m_settings.Path(), "[settings]\nrecurse=1\nmoveextensions=.JPG .cr2\n");
        PassOptions options;
        ASSERT_EQ(ReadPassSettings(m_settings, options), "");
        UseNumber("1");
        EXPECT_EQ(
            Lines(Run(kNameNumber, options), [](auto& item) { return item.oldName + " " + item.newName; }),
            (Names{"100CANON/IMG_0002.JPG IMG_0002 -1.jpg", "100CANON/IMG_0003.JPG IMG_0003 -2.jpg",
                   "101CANON/IMG_0001.JPG IMG_0001 -3.jpg"}));
    }
    const SettingsFile settings(m_dir / "bad.ini");
    WriteFile(settings.Path(), "[settings]\nrecurse=yes\n");
    PassOptions options;
    EXPECT_EQ(ReadPassSettings(settings, options).substr(0, 8), "recurse=");
}

// With dated folders each moved file goes into the folder of its date, made as needed; a RAW picture's group
// stays in one folder; a name taken there is refused. Undo puts them back and takes away the folders it
// empties.
TEST_F(MovePassTest, DatedFoldersTakeEachGroupIntoTheFolderOfItsDateAndUndoEmptiesThem) {
    Put({"IMG_0001.CR2"});
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}, kJpeg);
    SetCaptureDate("2021:06:15 23:59:59", "IMG_0001.JPG");
    SetCaptureDate("2020:01:02 00:00:00", "IMG_0002.JPG IMG_0003.JPG");
    MakeFolder(m_to + "/2020");
    MakeFolder(m_to + "/2020/01");
    WriteFile(m_to + "/2020/01/IMG_0003.jpg", "already here");
    std::optional<ImportLog> log = *ImportLog::Open(m_dir / "log");
    PassOptions options;
    options.moveExtensions = {".jpg", ".cr2"};
    options.dateSource = DateSource::Capture;
    options.folders = "%Y/%m";
    options.log = &*log;
    const auto line = [](auto& item) { return item.NewPath() + (item.Done() ? "" : ": " + item.reason); };
    EXPECT_EQ(Lines(Run(kNameNothing, options), line),
              (Names{"2021/06/IMG_0001.cr2", "2021/06/IMG_0001.jpg", "2020/01/IMG_0002.jpg",
                     "2020/01/IMG_0003.jpg: a file with that name already exists"}));
    EXPECT_EQ(ListNames(m_to + "/2021/06"), (Names{"IMG_0001.cr2", "IMG_0001.jpg"}));
    EXPECT_EQ(ListNames(m_from), Names{"IMG_0003.JPG"});
    log.reset();
    EXPECT_EQ(UndoLatestTransfer(m_dir / "log").Back(), 3u);
    EXPECT_EQ(ListNames(m_to), Names{"2020"});
    EXPECT_EQ(ListNames(m_to + "/2020/01"), Names{"IMG_0003.jpg"});
}

// With datesource=capture, Date of Photo is the day the camera recorded in the file, else the file's own. A
// RAW picture takes its JPEG and sidecar along under one new title, and when it can't go they stay with it.
TEST_F(MovePassTest, CaptureDatesAndRawPicturesWithTheirJpegAndSidecar) {
    Put({"IMG_0001.xmp", "IMG_0003.jpg", "IMG_0003.xmp"});
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.NEF"}, kJpeg);  // the .NEF unlike its kind
    WriteFile(m_from + "/IMG_0001.CR2", std::string("II*\0\x10\0\0\0CR\x02\0\0\0\0\0\0\0\0\0\0\0", 22));
    SetCaptureDate("2021:06:15 23:59:59", "IMG_0001.CR2");
    SetCaptureDate("2020:01:02 00:00:00", "IMG_0002.JPG");
    PassOptions options;
    options.moveExtensions = {".jpg", ".cr2", ".nef", ".xmp"};
    options.dryRun = true;
    UseNumber("7");
    EXPECT_EQ(Lines(Run(kNameNumber, options), [](auto& item) { return item.newName; }),
              (Names{"IMG_0001 -7.cr2", "IMG_0001 -7.jpg", "IMG_0001 -7.xmp", "IMG_0002 -8.jpg",
                     "IMG_0003 -9.nef", "IMG_0003 -9.jpg", "IMG_0003 -9.xmp"}));
    const std::string today = DateOf("IMG_0003.NEF");
    WriteFile(m_to + "/IMG_0003 -" + today + ".nef", "already here");
    options.dryRun = false;
    options.dateSource = DateSource::Capture;
    EXPECT_EQ(Run(kNameDate, options).items[5].reason, "it stays together with IMG_0003.NEF");
    EXPECT_EQ(ListNames(m_to), (Names{"IMG_0001 -061521.cr2", "IMG_0001 -061521.jpg", "IMG_0001 -061521.xmp",
                                      "IMG_0002 -010220.jpg", "IMG_0003 -" + today + ".nef"}));
    EXPECT_EQ(ListNames(m_from), (Names{"IMG_0003.NEF", "IMG_0003.jpg", "IMG_0003.xmp"}));
    // To another file system, the RAW must be safely in place before its JPEG and sidecar go.
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = RenameAcrossFileSystems;
    calls.fsync = Fail<EIO>;
    platform::ScopedSysCalls scoped(calls);
    m_to = m_dir.Path();
    EXPECT_EQ(Run(kNameNothing, options).items[2].reason, "it stays together with IMG_0003.NEF");
    EXPECT_FALSE(Exists(m_dir / "IMG_0003.jpg"));
}

// The helper that reads capture dates is killed when it takes too long or the pass stops, and started afresh
// after it died; one that can't be started gives no date. Here a stand-in answers 1 day after 1970 for any
// file but "hang" and "crash".
TEST(CaptureDateReader, OutlivesAHelperThatHangsOrDies) {
    TempDir dir;
    WriteFile(dir / "helper",
              "#!/bin/bash\nwhile read -rd '' f; do case $f in hang) exec sleep 60;; "
              "crash) exit 1;; *) echo 0 86400;; esac; done\n");
    ASSERT_EQ(RunCommand("chmod +x " + ShellQuote(dir / "helper")), 0);
    CancelFlag cancel{false};
    CaptureDateReader reader(&cancel, dir / "helper", 1);
    std::vector<time_t> got;
    for (const std::string file : {"a", "hang", "b", "crash", "c"}) {
        const CaptureRead read = reader.Read(file);
        got.push_back(read.status == CaptureStatus::Found ? read.time : -static_cast<int>(read.status));
    }
    cancel = true;
    got.push_back(-static_cast<int>(reader.Read("hang").status));
    got.push_back(-static_cast<int>(CaptureDateReader(&cancel, dir / "none").Read("a").status));
    EXPECT_EQ(got,
              (std::vector<time_t>{86400, -4, 86400, -5, 86400, -7, -6}));  // TimedOut, ReaderFailed, ...
}

// Asked to stop, the pass ends after the file in hand and completes the copies it made, also while it waits
// for the counter; a counter lock that can't be asked for is an error. (A counter it can't keep: the
// end-to-end CLI table; a camera folder it can't read: the sweep.)
TEST_F(MovePassTest, StopsWhenCancelledAndReportsWhatStoodInTheWay) {
    Put({"a.jpg", "b.jpg", "c.jpg"});
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = RenameAcrossFileSystems;
    platform::ScopedSysCalls scoped(calls);
    CancelFlag cancel{false};
    PassOptions options;
    options.cancel = &cancel;
    options.onProgress = [&](size_t handled, size_t) { cancel = handled == 2; };
    UseNumber("5");
    EXPECT_TRUE(Run(kNameNumber, options).cancelled);
    EXPECT_EQ(ListNames(m_to), (Names{"a -5.jpg", "b -6.jpg"}));
    EXPECT_EQ(ListNames(m_from), Names{"c.jpg"});
    CounterKeeper another(m_settings);  // another pass holds the counter: a stop ends the wait for it
    ASSERT_TRUE(another.Claim(m_inputs, false, nullptr));
    EXPECT_TRUE(Run(kNameNumber, options).cancelled);
    calls.fcntlLock = Fail<EIO>;  // a lock that can't be asked for is an error, not an endless wait
    platform::ScopedSysCalls failing(calls);
    EXPECT_NE(Run(kNameNumber).problem.find("Input/output error"), std::string::npos);
    EXPECT_EQ(ListNames(m_from), Names{"c.jpg"});
}

}  // namespace
