#include "transfer/MovePass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <set>

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

TEST_F(MovePassTest, MovesPicturesVideosAndFoldersWithThoseNamesAndLeavesTheRest) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt", "IMG.0001.JPG", "README"});
    MakeFolder(m_from + "/holiday.JPG");
    WriteFile(m_from + "/holiday.JPG/inside.txt", "inside");
    const TransferReport report = Run(kNameNothing);
    EXPECT_EQ(ListNames(m_to), (Names{"CLIP0002.avi", "IMG_0001.jpg", "holiday.jpg"}));
    EXPECT_EQ(ListNames(m_from), (Names{"IMG.0001.JPG", "README", "notes.txt"}));
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), "contents of IMG_0001.JPG");
    EXPECT_EQ(ReadFile(m_to + "/holiday.jpg/inside.txt"), "inside");
    EXPECT_EQ(report.Taken(), 3u);
    EXPECT_EQ(report.Failed(), 0u);
    EXPECT_FALSE(Exists(m_settings.Path()));  // only Number keeps a counter
}

TEST_F(MovePassTest, NumbersFollowTheListingAndTheCounterKeepsTheNext) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "notes.txt"});
    UseNumber("7");
    const TransferReport report = Run(kNameNumber);
    ASSERT_EQ(report.Taken(), 2u);
    std::set<std::string> names;
    for (size_t i = 0; i < 2; ++i) {  // which file gets 7 depends on the directory order; the report tells
        const std::string& old = report.items[i].oldName;
        EXPECT_EQ(report.items[i].newName, old.substr(0, 8) + " -" + std::to_string(7 + i) + ".jpg");
        names.insert(report.items[i].newName);
    }
    EXPECT_EQ(ListNames(m_to), Names(names.begin(), names.end()));
    EXPECT_EQ(m_inputs.numberText, "9");
    EXPECT_EQ(m_settings.Read("counter"), "9");
}

// A file that is not moved stays where it was, whatever stands at its new name stays too, and its number
// is used up all the same.
TEST_F(MovePassTest, AFileNotMovedStaysAndUsesUpItsNumber) {
    const struct {
        const char* what;
        bool destinationExists;
        bool nameTaken;
        bool renameRefused;
        const char* reason;
    } cases[] = {
        {"NameTaken", true, true, false, "a file with that name already exists"},
        {"NoDestination", false, false, false, "the destination folder does not exist"},
        {"RenameRefused", true, false, true, "permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string from = dir / "camera", to = dir / "computer";
        MakeFolder(from);
        WriteFile(from + "/IMG_0001.JPG", "picture");
        WriteFile(from + "/IMG_0002.JPG", "picture");
        if (c.destinationExists) {
            MakeFolder(to);
        }
        if (c.nameTaken) {
            WriteFile(to + "/IMG_0001 -41.jpg", "already here");
            WriteFile(to + "/IMG_0002 -41.jpg", "already here");
        }
        platform::SysCalls calls = platform::RealSysCalls();
        if (c.renameRefused) {
            calls.renameat2 = Fail<EACCES>;
        }
        UseNumber("41");
        const SettingsFile settings(dir / "tovaro.ini");
        TransferReport report;
        {
            platform::ScopedSysCalls scoped(calls);
            report = MovePass(from, to, kNameNumber, m_inputs, settings);
        }
        ASSERT_EQ(report.Taken(), 2u);
        EXPECT_EQ(report.Failed(), c.nameTaken ? 1u : 2u);
        EXPECT_EQ(report.items[0].reason, c.reason);
        EXPECT_EQ(ReadFile(from + "/" + report.items[0].oldName), "picture");
        EXPECT_EQ(ListNames(from).size(), c.nameTaken ? 1u : 2u);
        EXPECT_EQ(c.destinationExists, Exists(to));
        if (c.nameTaken) {
            EXPECT_EQ(ReadFile(to + "/" + report.items[0].newName), "already here");
            EXPECT_EQ(ListNames(to).size(), 3u);
        }
        EXPECT_EQ(m_inputs.numberText, "43");
        EXPECT_EQ(settings.Read("counter"), "43");
    }
}

TEST_F(MovePassTest, UnsafeNewNamesAreNeverUsed) {
    Put({"IMG_0001.JPG"});
    MakeFolder(m_to + "/sub");
    m_inputs.renameFind = "IMG_";
    for (const std::string& replacement : Names{"../", "sub/", "/", std::string("a\0b", 3)}) {
        m_inputs.renameNew = replacement;
        const TransferReport report = Run(kNameRename);
        ASSERT_EQ(report.Taken(), 1u);
        EXPECT_FALSE(report.items[0].Done()) << replacement;
        EXPECT_TRUE(report.items[0].reason.find("\"/\"") != std::string::npos ||
                    report.items[0].reason == "the new name contains a NUL byte")
            << report.items[0].reason;
        EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"});
        EXPECT_EQ(ListNames(m_to), Names{"sub"});
        EXPECT_TRUE(ListNames(m_to + "/sub").empty());
        EXPECT_FALSE(Exists(m_dir / "0001.jpg"));
    }
}

TEST_F(MovePassTest, TheSameFolderRenamesEachFileOnceInPlace) {
    Put({"IMG_0001.JPG", "IMG_0002.jpg", "notes.txt"});
    EXPECT_EQ(MovePass(m_from, m_from, kNameNothing, m_inputs, m_settings).Failed(), 0u);
    EXPECT_EQ(ListNames(m_from), (Names{"IMG_0001.jpg", "IMG_0002.jpg", "notes.txt"}));
    UseNumber("1");
    const TransferReport numbered = MovePass(m_from, m_from, kNameNumber, m_inputs, m_settings);
    EXPECT_EQ(numbered.Taken(), 2u);  // a renamed file is not met again under its new name
    EXPECT_EQ(m_inputs.numberText, "3");
    const Names after = ListNames(m_from);
    EXPECT_TRUE(after == (Names{"IMG_0001 -1.jpg", "IMG_0002 -2.jpg", "notes.txt"}) ||
                after == (Names{"IMG_0001 -2.jpg", "IMG_0002 -1.jpg", "notes.txt"}))
        << testing::PrintToString(after);
}

TEST_F(MovePassTest, TheDateIsTheFilesCreationDay) {
    Put({"IMG_0001.JPG"});
    std::string date =
        platform::LocalDateMMDDYY(platform::InfoOfPath(m_from + "/IMG_0001.JPG")->CreationTime().tv_sec);
    date.erase(std::remove(date.begin(), date.end(), '/'), date.end());
    Run(kNameDate);
    EXPECT_EQ(ListNames(m_to), Names{"IMG_0001 -" + date + ".jpg"});
}

TEST_F(MovePassTest, ADryRunChangesNothingAndReportsEveryItem) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "CLIP.AVI", "notes.txt"});
    for (const char* taken : {"IMG_0002 -11.jpg", "IMG_0002 -12.jpg", "IMG_0002 -13.jpg"}) {
        WriteFile(m_to + "/" + taken, "x");
    }
    WriteFile(m_settings.Path(), "[settings]\ncounter=11\n");
    UseNumber("11");
    Names seen;
    PassOptions options;
    options.dryRun = true;
    options.onItem = [&](const TransferItem& item) { seen.push_back(item.oldName); };
    const TransferReport report = Run(kNameNumber, options);
    EXPECT_EQ(ListNames(m_from), (Names{"CLIP.AVI", "IMG_0001.JPG", "IMG_0002.JPG", "notes.txt"}));
    EXPECT_EQ(ListNames(m_to).size(), 3u);
    EXPECT_EQ(ReadFile(m_settings.Path()), "[settings]\ncounter=11\n");
    ASSERT_EQ(report.Taken(), 3u);
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const TransferItem& item = report.items[i];
        EXPECT_EQ(item.oldName, seen[i]);
        EXPECT_NE(item.newName.find(" -" + std::to_string(11 + i) + "."), std::string::npos) << item.newName;
        EXPECT_EQ(item.Done(), item.oldName != "IMG_0002.JPG") << item.oldName;
    }
}

TEST_F(MovePassTest, TheReportSaysWhenTheCounterCouldNotBeKept) {
    Put({"IMG_0001.JPG"});
    UseNumber("3");
    const SettingsFile nowhere(m_dir / "missing/tovaro.ini");
    const TransferReport report = MovePass(m_from, m_to, kNameNumber, m_inputs, nowhere);
    EXPECT_EQ(report.Failed(), 0u);
    EXPECT_NE(report.counterError.find(nowhere.Path()), std::string::npos) << report.counterError;
}

TEST_F(MovePassTest, MovesAcrossFileSystems) {
    TempDir shm("/dev/shm");
    struct stat a {
    }, b{};
    if (::stat(shm.Path().c_str(), &a) != 0 || ::stat(m_to.c_str(), &b) != 0 || a.st_dev == b.st_dev) {
        GTEST_SKIP() << "no second file system here";
    }
    WriteFile(shm / "IMG_0001.JPG", std::string(300000, 'p'));
    MakeFolder(shm / "folder.jpg");
    const TransferReport report = MovePass(shm.Path(), m_to, kNameNothing, m_inputs, m_settings);
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), std::string(300000, 'p'));
    EXPECT_EQ(ListNames(shm.Path()), Names{"folder.jpg"});  // folders are not copied across
    EXPECT_EQ(report.Failed(), 1u);
    EXPECT_EQ(ListNames(m_to), Names{"IMG_0001.jpg"});  // and no partial file is left
}

}  // namespace
