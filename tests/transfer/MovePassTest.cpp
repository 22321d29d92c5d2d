#include "transfer/MovePass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <set>

#include "app/SettingsFile.h"
#include "platform/File.h"
#include "platform/Sys.h"
#include "platform/Time.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;

namespace {

// A camera folder, a destination folder and a settings file, all in one temporary folder.
class MovePassTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    void Put(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            WriteFile(m_dir / ("camera/" + name), "contents of " + name);
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

std::set<std::string> NewNames(const TransferReport& report) {
    std::set<std::string> names;
    for (const TransferItem& item : report.items) {
        names.insert(item.newName);
    }
    return names;
}

TEST_F(MovePassTest, MovesPicturesAndVideosAndLeavesTheRest) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt", "IMG.0001.JPG", "README"});
    const TransferReport report = Run(kNameNothing);
    EXPECT_EQ(ListNames(m_to), (Names{"CLIP0002.avi", "IMG_0001.jpg"}));
    EXPECT_EQ(ListNames(m_from), (Names{"IMG.0001.JPG", "README", "notes.txt"}));
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), "contents of IMG_0001.JPG");
    ASSERT_EQ(report.Taken(), 2u);
    EXPECT_EQ(report.Failed(), 0u);
    for (const TransferItem& item : report.items) {
        EXPECT_TRUE(item.done) << item.oldName;
        EXPECT_EQ(item.reason, "");
    }
    EXPECT_FALSE(Exists(m_settings.Path()));  // only Number keeps a counter
}

TEST_F(MovePassTest, NumbersFollowTheListingAndTheCounterKeepsTheNext) {
    Put({"IMG_0001.JPG", "CLIP0002.AVI", "notes.txt"});
    UseNumber("7");
    const TransferReport report = Run(kNameNumber);
    ASSERT_EQ(report.Taken(), 2u);
    // Which file gets 7 depends on the directory order; the report tells.
    const std::string first =
        report.items[0].oldName == "IMG_0001.JPG" ? "IMG_0001 -7.jpg" : "CLIP0002 -7.avi";
    const std::string second =
        report.items[0].oldName == "IMG_0001.JPG" ? "CLIP0002 -8.avi" : "IMG_0001 -8.jpg";
    EXPECT_EQ(report.items[0].newName, first);
    EXPECT_EQ(report.items[1].newName, second);
    EXPECT_EQ(ListNames(m_to), (Names{std::min(first, second), std::max(first, second)}));
    EXPECT_EQ(m_inputs.numberText, "9");
    EXPECT_EQ(m_settings.Read("counter"), "9");
}

TEST_F(MovePassTest, TenTakenFilesUseUpExactlyTenNumbers) {
    for (int i = 0; i < 10; ++i) {
        Put({"IMG_000" + std::to_string(i) + ".JPG"});
    }
    Put({"a.txt", "b.doc", "IMG.1.JPG"});
    UseNumber("~");
    Run(kNameNumber);
    EXPECT_EQ(m_inputs.numberText, "10");
    EXPECT_EQ(m_settings.Read("counter"), "10");
    EXPECT_EQ(ListNames(m_to).size(), 10u);
}

TEST_F(MovePassTest, TheCounterWrapsPastTheLargest32BitNumber) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG"});
    UseNumber("2147483647");
    Run(kNameNumber);
    const Names names = ListNames(m_to);
    EXPECT_TRUE(names == (Names{"IMG_0001 --2147483648.jpg", "IMG_0002 -2147483647.jpg"}) ||
                names == (Names{"IMG_0001 -2147483647.jpg", "IMG_0002 --2147483648.jpg"}))
        << testing::PrintToString(names);
    EXPECT_EQ(m_settings.Read("counter"), "-2147483647");
}

TEST_F(MovePassTest, AnExistingFileIsNeverReplaced) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG"});
    WriteFile(m_to + "/IMG_0001.jpg", "already here");
    const TransferReport report = Run(kNameNothing);
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), "already here");
    EXPECT_EQ(ReadFile(m_from + "/IMG_0001.JPG"), "contents of IMG_0001.JPG");
    EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"});
    EXPECT_EQ(report.Failed(), 1u);
    for (const TransferItem& item : report.items) {
        EXPECT_EQ(item.done, item.oldName == "IMG_0002.JPG");
        if (!item.done) {
            EXPECT_EQ(item.reason, "a file with that name already exists");
        }
    }
}

TEST_F(MovePassTest, TwoEntriesWithOneNewNameMoveOnlyTheFirst) {
    Put({"IMG_0001.JPG", "IMG_0001.jpg"});
    const TransferReport report = Run(kNameNothing);
    ASSERT_EQ(report.Taken(), 2u);
    EXPECT_TRUE(report.items[0].done);
    EXPECT_FALSE(report.items[1].done);
    EXPECT_EQ(ListNames(m_from), Names{report.items[1].oldName});
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), "contents of " + report.items[0].oldName);
}

TEST_F(MovePassTest, AMissingDestinationMovesNothingAndStillUsesUpNumbers) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "CLIP0003.AVI"});
    UseNumber("41");
    const TransferReport report = MovePass(m_from, m_dir / "nowhere", kNameNumber, m_inputs, m_settings);
    EXPECT_EQ(ListNames(m_from).size(), 3u);
    EXPECT_FALSE(Exists(m_dir / "nowhere"));
    ASSERT_EQ(report.Failed(), 3u);
    EXPECT_EQ(report.items[0].reason, "the destination folder does not exist");
    EXPECT_EQ(m_inputs.numberText, "44");
    EXPECT_EQ(m_settings.Read("counter"), "44");
}

TEST_F(MovePassTest, AFailedMoveIsReportedInPlainWordsAndTheFileStays) {
    Put({"IMG_0001.JPG"});
    UseNumber("1");
    platform::SysCalls calls = platform::RealSysCalls();
    calls.renameat2 = [](const char*, const char*, unsigned) -> int {
        errno = EACCES;
        return -1;
    };
    TransferReport report;
    {
        platform::ScopedSysCalls scoped(calls);
        report = Run(kNameNumber);
    }
    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_FALSE(report.items[0].done);
    EXPECT_EQ(report.items[0].reason, "permission denied");
    EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"});
    EXPECT_EQ(m_settings.Read("counter"), "2");
}

TEST_F(MovePassTest, UnsafeNewNamesAreNeverUsed) {
    for (const char* replacement : {"../", "sub/", "/"}) {
        Put({"IMG_0001.JPG"});
        MakeFolder(m_to + "/sub");
        m_inputs.renameFind = "IMG_";
        m_inputs.renameNew = replacement;
        const TransferReport report = Run(kNameRename);
        ASSERT_EQ(report.Taken(), 1u);
        EXPECT_FALSE(report.items[0].done) << replacement;
        EXPECT_NE(report.items[0].reason.find("\"/\""), std::string::npos) << report.items[0].reason;
        EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"}) << replacement;
        EXPECT_EQ(ListNames(m_to), Names{"sub"}) << replacement;
        EXPECT_TRUE(ListNames(m_to + "/sub").empty()) << replacement;
        EXPECT_FALSE(Exists(m_dir / "0001.jpg")) << replacement;
        ::rmdir((m_to + "/sub").c_str());
    }
    m_inputs.renameNew = std::string("a\0b", 3);
    const TransferReport report = Run(kNameRename);
    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_FALSE(report.items[0].done);
    EXPECT_EQ(report.items[0].reason, "the new name contains a NUL byte");
    EXPECT_EQ(ListNames(m_from), Names{"IMG_0001.JPG"});
}

TEST_F(MovePassTest, TheSameFolderRenamesEachFileOnceInPlace) {
    Put({"IMG_0001.JPG", "IMG_0002.jpg", "notes.txt"});
    const TransferReport plain = MovePass(m_from, m_from, kNameNothing, m_inputs, m_settings);
    EXPECT_EQ(ListNames(m_from), (Names{"IMG_0001.jpg", "IMG_0002.jpg", "notes.txt"}));
    EXPECT_EQ(plain.Failed(), 0u);

    UseNumber("1");
    const TransferReport numbered = MovePass(m_from, m_from, kNameNumber, m_inputs, m_settings);
    EXPECT_EQ(numbered.Taken(), 2u);  // a renamed file is not met again under its new name
    const Names after = ListNames(m_from);
    EXPECT_EQ(after.size(), 3u);
    EXPECT_EQ(m_inputs.numberText, "3");
    std::set<std::string> expected = NewNames(numbered);  // the report names what is there now
    expected.insert("notes.txt");
    EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), expected);
    EXPECT_TRUE(after == (Names{"IMG_0001 -1.jpg", "IMG_0002 -2.jpg", "notes.txt"}) ||
                after == (Names{"IMG_0001 -2.jpg", "IMG_0002 -1.jpg", "notes.txt"}));
}

TEST_F(MovePassTest, AFolderWithAPictureNameIsMovedWithItsContents) {
    MakeFolder(m_from + "/holiday.JPG");
    WriteFile(m_from + "/holiday.JPG/inside.txt", "inside");
    const TransferReport report = Run(kNameText);
    ASSERT_EQ(report.Taken(), 1u);
    EXPECT_TRUE(report.items[0].done);
    EXPECT_EQ(ReadFile(m_to + "/holiday -.jpg/inside.txt"), "inside");
}

TEST_F(MovePassTest, AMissingOrEmptyCameraFolderHandlesNothing) {
    UseNumber("5");
    EXPECT_EQ(Run(kNameNumber).Taken(), 0u);
    EXPECT_EQ(MovePass(m_dir / "nowhere", m_to, kNameNumber, m_inputs, m_settings).Taken(), 0u);
    EXPECT_EQ(m_inputs.numberText, "5");
    EXPECT_FALSE(Exists(m_settings.Path()));
}

TEST_F(MovePassTest, TheDateIsTheFilesCreationDay) {
    Put({"IMG_0001.JPG"});
    const auto info = platform::InfoOfPath(m_from + "/IMG_0001.JPG");
    ASSERT_TRUE(info.has_value());
    std::string date = platform::LocalDateMMDDYY(info->CreationTime().tv_sec);
    date.erase(std::remove(date.begin(), date.end(), '/'), date.end());
    ASSERT_EQ(date.size(), 6u);
    Run(kNameDate);
    EXPECT_EQ(ListNames(m_to), Names{"IMG_0001 -" + date + ".jpg"});
}

TEST_F(MovePassTest, ADryRunChangesNothingAndReportsEveryItem) {
    Put({"IMG_0001.JPG", "IMG_0002.JPG", "CLIP.AVI", "notes.txt"});
    WriteFile(m_to + "/IMG_0002 -11.jpg", "x");
    WriteFile(m_to + "/IMG_0002 -12.jpg", "x");
    WriteFile(m_to + "/IMG_0002 -13.jpg", "x");
    WriteFile(m_settings.Path(), "[settings]\ncounter=11\n");
    UseNumber("11");
    std::vector<std::string> seen;
    PassOptions options;
    options.dryRun = true;
    options.onItem = [&](const TransferItem& item) { seen.push_back(item.oldName); };
    const TransferReport report = Run(kNameNumber, options);

    EXPECT_EQ(ListNames(m_from), (Names{"CLIP.AVI", "IMG_0001.JPG", "IMG_0002.JPG", "notes.txt"}));
    EXPECT_EQ(ListNames(m_to).size(), 3u);
    EXPECT_EQ(ReadFile(m_settings.Path()), "[settings]\ncounter=11\n");
    ASSERT_EQ(report.Taken(), 3u);
    EXPECT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < report.items.size(); ++i) {
        const TransferItem& item = report.items[i];
        EXPECT_EQ(item.oldName, seen[i]);
        EXPECT_EQ(item.newName.find(" -" + std::to_string(11 + i) + "."), item.newName.find(" -"))
            << item.newName;
        EXPECT_EQ(item.done, item.oldName != "IMG_0002.JPG") << item.oldName;
    }
}

TEST_F(MovePassTest, TheReportSaysWhenTheCounterCouldNotBeKept) {
    Put({"IMG_0001.JPG"});
    UseNumber("3");
    const SettingsFile nowhere(m_dir / "missing/tovaro.ini");
    const TransferReport report = MovePass(m_from, m_to, kNameNumber, m_inputs, nowhere);
    EXPECT_EQ(report.Failed(), 0u);
    EXPECT_NE(report.counterError.find(nowhere.Path()), std::string::npos) << report.counterError;
    EXPECT_EQ(Run(kNameNothing).counterError, "");
}

TEST_F(MovePassTest, MovesAcrossFileSystems) {
    TempDir shm("/dev/shm");
    struct stat a {
    }, b{};
    if (::stat(shm.Path().c_str(), &a) != 0 || ::stat(m_to.c_str(), &b) != 0 || a.st_dev == b.st_dev) {
        GTEST_SKIP() << "no second file system here";
    }
    WriteFile(shm / "IMG_0001.JPG", std::string(300000, 'p'));
    WriteFile(shm / "CLIP.AVI", "video");
    MakeFolder(shm / "folder.jpg");
    const TransferReport report = MovePass(shm.Path(), m_to, kNameNothing, m_inputs, m_settings);
    EXPECT_EQ(ReadFile(m_to + "/IMG_0001.jpg"), std::string(300000, 'p'));
    EXPECT_EQ(ReadFile(m_to + "/CLIP.avi"), "video");
    EXPECT_EQ(ListNames(shm.Path()), Names{"folder.jpg"});  // folders are not copied across
    EXPECT_EQ(report.Failed(), 1u);
    EXPECT_EQ(ListNames(m_to), (Names{"CLIP.avi", "IMG_0001.jpg"}));  // and no partial file is left
}

}  // namespace
