#include "transfer/MovePass.h"

#include <gtest/gtest.h>

#include "platform/File.h"
#include "platform/Time.h"
#include "settings/SettingsFile.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

class MovePassTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }
    void Put(const Names& names) {
        for (const std::string& name : names) {
            WriteFile(m_from + "/" + name, "contents of " + name);
        }
    }
    TransferReport Run(NameOption option, const PassOptions& options = {}) {
        return MovePass(m_from, m_to, option, m_inputs, m_settings, options);
    }
    void UseNumber(const std::string& shown) {
        m_inputs.numberText = shown;
        m_inputs.numberChecked = true;
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
    WriteFile(m_to + "/.tovaro-0123456789abcdef.part", "left by a killed run");
    const TransferReport report = Run(kNameNothing);
    EXPECT_EQ(ListNames(m_to), (Names{"CLIP0002.avi", "IMG_0001.jpg", "holiday.jpg"}));
    EXPECT_EQ(ListNames(m_from), (Names{".hidden.txt", "IMG.0001.JPG", "README", "notes.txt"}));
    EXPECT_EQ(ReadFile(m_to + "/holiday.jpg/inside.txt"), "inside");
    EXPECT_EQ(report.Done(), 3u);
    EXPECT_EQ(LeftBehindText(report), "3 other files stay in the camera folder (no extension, .jpg, .txt)");
    EXPECT_FALSE(Exists(m_settings.Path()));  // only Number keeps a counter
}

// A file that is not moved stays where it was, whatever stands at its new name stays too, and its number
// is used up all the same. Numbers follow the names' order.
TEST_F(MovePassTest, AFileNotMovedStaysAndUsesUpItsNumber) {
    const struct {
        const char* what;
        bool destinationExists, nameTaken, renameRefused;
        const char* reason;
    } cases[] = {
        {"AllMoved", true, false, false, ""},
        {"NameTaken", true, true, false, "a file with that name already exists"},
        {"NoDestination", false, false, false, "the destination folder does not exist"},
        {"RenameRefused", true, false, true, "permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        m_from = dir / "camera", m_to = dir / "computer";
        MakeFolder(m_from);
        Put({"IMG_0002.JPG", "IMG_0001.JPG"});
        if (c.destinationExists) {
            MakeFolder(m_to);
        }
        if (c.nameTaken) {
            WriteFile(m_to + "/IMG_0001 -41.jpg", "already here");
        }
        platform::SysCalls calls = platform::RealSysCalls();
        if (c.renameRefused) {
            calls.renameat2 = Fail<EACCES>;
        }
        UseNumber("41");
        m_settings = SettingsFile(dir / "tovaro.ini");
        TransferReport report;
        {
            platform::ScopedSysCalls scoped(calls);
            report = Run(kNameNumber);
        }
        ASSERT_EQ(report.Taken(), 2u);
        EXPECT_EQ(report.items[0].newName, "IMG_0001 -41.jpg");
        EXPECT_EQ(report.items[1].newName, "IMG_0002 -42.jpg");
        EXPECT_EQ(report.items[0].reason, c.reason);
        EXPECT_EQ(report.problem.empty(), c.destinationExists) << report.problem;
        EXPECT_EQ(Exists(m_from + "/IMG_0001.JPG"), *c.reason != '\0');
        if (c.nameTaken) {
            EXPECT_EQ(ReadFile(m_to + "/IMG_0001 -41.jpg"), "already here");
        }
        EXPECT_EQ(m_inputs.numberText, "43");
        EXPECT_EQ(m_settings.Read("counter"), "43");
    }
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
    for (const std::string& replacement : Names{"../", "/", std::string("a\0b", 3)}) {
        m_inputs.renameNew = replacement;
        EXPECT_EQ(Run(kNameRename).Failed(), 2u) << replacement;
    }
    EXPECT_EQ(ListNames(m_from), (Names{"IMG_0001.JPG", "IMG_0002.JPG"}));
    EXPECT_EQ(ListNames(m_to), Names{"IMG_0002 -12.jpg"});
    EXPECT_FALSE(Exists(m_dir / "0001.jpg"));
}

TEST_F(MovePassTest, TheSameFolderRenamesEachFileOnceInPlaceByItsCreationDay) {
    Put({"IMG_0002.jpg", "IMG_0001.JPG", "notes.txt"});
    std::string date =
        platform::LocalDateMMDDYY(platform::InfoOfPath(m_from + "/IMG_0001.JPG")->CreationTime().tv_sec);
    date.erase(2, 1).erase(4, 1);
    EXPECT_EQ(MovePass(m_from, m_from, kNameDate, m_inputs, m_settings).Done(), 2u);
    EXPECT_EQ(ListNames(m_from),
              (Names{"IMG_0001 -" + date + ".jpg", "IMG_0002 -" + date + ".jpg", "notes.txt"}));
}

// Pretends every rename but our own temporary file's crosses file systems, so copies are made (in batches).
int RenameAcrossFileSystems(const char* from, const char* to, unsigned flags) {
    return std::string(from).find("/.tovaro-") == std::string::npos
               ? Fail<EXDEV, int>()
               : platform::RealSysCalls().renameat2(from, to, flags);
}

// Asked to stop, the pass ends after the file in hand and completes the copies it made; a folder it can't
// read, or a counter it can't keep, is reported.
TEST_F(MovePassTest, StopsWhenCancelledAndReportsWhatStoodInTheWay) {
    Put({"a.jpg", "b.jpg", "c.jpg"});
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = RenameAcrossFileSystems;
    platform::ScopedSysCalls scoped(calls);
    CancelFlag cancel{false};
    PassOptions options;
    options.cancel = &cancel;
    options.onProgress = [&](size_t handled, size_t total) {
        EXPECT_EQ(total, 3u);
        cancel = handled == 2;
    };
    UseNumber("5");
    const SettingsFile nowhere(m_dir / "missing/tovaro.ini");
    const TransferReport report = MovePass(m_from, m_to, kNameNumber, m_inputs, nowhere, options);
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(ListNames(m_to), (Names{"a -5.jpg", "b -6.jpg"}));
    EXPECT_EQ(ListNames(m_from), Names{"c.jpg"});
    EXPECT_NE(report.counterError.find(nowhere.Path()), std::string::npos) << report.counterError;
    EXPECT_NE(
        MovePass(m_dir / "none", m_to, kNameNothing, m_inputs, m_settings).problem.find("can't be read"),
        std::string::npos);
}

}  // namespace
