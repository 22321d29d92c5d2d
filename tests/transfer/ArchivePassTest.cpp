#include "transfer/ArchivePass.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>

#include "platform/File.h"
#include "settings/SettingsFile.h"
#include "tests/support/TempDir.h"
#include "transfer/PassSettings.h"

using namespace testsupport;
using namespace transfer;
using Names = std::vector<std::string>;
using Members = std::map<std::string, std::string>;

namespace {

// The members of an archive, which Python's zipfile and `unzip -t` must both read whole.
Members ReadBack(const std::string& archive) {
    const auto members = ReadArchive(archive);
    EXPECT_TRUE(members);
    return members.value_or(Members{});
}

// Every test runs in both modes of compression, chosen as the settings file chooses it. (That no picture is
// lost whatever fails: the sweep.)
class ArchivePassTest : public testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        MakeFolder(m_from);
        MakeFolder(m_to);
    }

    void Put(const Names& names) {
        for (const std::string& name : names) {
            WriteFile(m_from + "/" + name, m_put[name] = Noise(name, 3000));
        }
    }
    TransferReport Run(NameOption option, PassOptions options = {}) {
        const SettingsFile mode(m_dir / "mode.ini");
        WriteFile(mode.Path(), std::string("[settings]\ncompression=") + GetParam() + "\n");
        EXPECT_EQ(ReadPassSettings(mode, options), "");
        return ArchivePass(m_from, m_to, option, m_inputs, m_settings, options);
    }
    std::string Archive(const char* name = "ArchivePics.zip") const { return m_to + "/" + name; }

    TempDir m_dir;
    std::string m_from = m_dir / "camera";
    std::string m_to = m_dir / "computer";
    SettingsFile m_settings{m_dir / "tovaro.ini"};
    PlainNamingInputs m_inputs;
    std::map<std::string, std::string> m_put;
};

TEST_P(ArchivePassTest, PacksThePicturesInNameOrderAndLeavesVideosFoldersAndOtherFiles) {
    Put({"C.bmp", "a.JPG", "b.gif", "CLIP0002.AVI", "notes.txt"});  // letter case does not sort
    MakeFolder(m_from + "/holiday.jpg");
    m_inputs.numberText = "7";
    m_inputs.numberChecked = true;
    EXPECT_EQ(Run(kNameNumber).Done(), 3u);
    EXPECT_EQ(ReadBack(Archive()), (Members{{m_from + "/a -7.jpg", m_put["a.JPG"]},
                                            {m_from + "/b -8.gif", m_put["b.gif"]},
                                            {m_from + "/C -9.bmp", m_put["C.bmp"]}}));
    EXPECT_EQ(ListNames(m_from), (Names{"CLIP0002.AVI", "holiday.jpg", "notes.txt"}));
    EXPECT_EQ(m_settings.Read("counter"), "10");
    // Nothing left: an archive without members, in the camera folder, where it is no file left behind.
    const TransferReport empty = ArchivePass(m_from, m_from, kNameNothing, m_inputs, m_settings, {});
    EXPECT_EQ(std::to_string(empty.Taken()) + " " + LeftBehindText(empty),
              "0 2 other files stay in the camera folder (.avi, .txt)");
    EXPECT_EQ(ReadFile(m_from + "/ArchivePics.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

// Walking a card's folders, each picture is renamed in its own folder and stored under its path, so pictures
// of one name in two folders are two members; one whose member name the archive already holds (a backslash
// becomes "/") stays; the archive is never taken itself, even with .zip in the list. (How names that are not
// ASCII are stored: the ZIP layer's test.)
TEST_P(ArchivePassTest, ACardsFoldersGoIntoOneArchiveEachUnderItsPath) {
    MakeFolder(m_from + "/100CANON");
    MakeFolder(m_from + "/101CANON");
    Put({"100CANON/a.JPG", "100CANON\\a.jpg", "101CANON/a.jpg", "b.zip"});
    m_to = m_from;
    PassOptions options;
    options.recursive = true;
    options.archiveExtensions = {".jpg", ".zip"};
    m_inputs.text = "x";
    Run(kNameText, options);
    EXPECT_EQ(ReadBack(Archive()), (Members{{m_from + "/100CANON/a -x.jpg", m_put["100CANON/a.JPG"]},
                                            {m_from + "/101CANON/a -x.jpg", m_put["101CANON/a.jpg"]},
                                            {m_from + "/b -x.zip", m_put["b.zip"]}}));
    EXPECT_EQ(ListNames(m_from), (Names{"100CANON", "100CANON\\a.jpg", "101CANON", "ArchivePics.zip"}));
}

// An ArchivePics.zip already in the destination is never overwritten nor taken for another's: an earlier
// one is kept under the first free name, one that another pass writes is left alone, and a folder of the
// user's stops the pass. (One that can't be kept: the sweep.)
TEST_P(ArchivePassTest, WhatAlreadyStandsUnderTheArchivesNameIsKept) {
    const struct {
        const char *what, *earlier, *ours;  // where the earlier archive and ours end up (nullptr: none)
        Names inCamera;
    } cases[] = {
        {"KeptUnderTheFirstFreeName", "ArchivePics-2.zip", "ArchivePics.zip", {}},
        {"AnotherPassIsWritingIt", "ArchivePics.zip", "ArchivePics-2.zip", {}},
        {"AFolderOfTheUsers", nullptr, nullptr, {"a.jpg"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_to = m_dir / c.what;
        MakeFolder(m_to);
        c.earlier != nullptr ? WriteFile(Archive(), "earlier archive") : MakeFolder(Archive());
        WriteFile(Archive("ArchivePics-1.zip"), "someone else's file");
        auto held = platform::File::OpenForReadWrite(Archive());
        ASSERT_TRUE(std::string(c.what) != "AnotherPassIsWritingIt" || held->TryLockExclusive());
        Put({"a.jpg"});
        const TransferReport report = Run(kNameNothing);
        EXPECT_EQ(ListNames(m_from), c.inCamera);
        EXPECT_EQ(ReadFile(Archive("ArchivePics-1.zip")), "someone else's file");
        EXPECT_TRUE(c.earlier == nullptr || ReadFile(Archive(c.earlier)) == "earlier archive");
        if (c.ours != nullptr) {
            EXPECT_EQ(ReadBack(Archive(c.ours)).count(m_from + "/a.jpg"), 1u);
            EXPECT_NE(report.notice.find("ArchivePics-2.zip"), std::string::npos);
        }
        EXPECT_EQ(report.problem.empty(), c.earlier != nullptr) << report.problem;
    }
}

// Links, pipes and devices are never read into the archive, a picture whose new name is taken is skipped, one
// too large for the archive stays, a write-protected picture is archived but stays, and one written to after
// it was packed stays; nothing hangs on a pipe that a writer holds open.
TEST_P(ArchivePassTest, OnlyRegularFilesArePackedAndProtectedOnesStay) {
    Put({"IMG_0001.JPG", "IMG_0001.jpg", "locked.jpg", "zz.jpg"});
    WriteFile(m_from + "/huge.jpg", "");
    ASSERT_EQ(::truncate((m_from + "/huge.jpg").c_str(), off_t{5} << 30), 0);  // sparse
    ASSERT_EQ(::chmod((m_from + "/locked.jpg").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("/etc/passwd", (m_from + "/passwd.jpg").c_str()), 0);
    ASSERT_EQ(::mkfifo((m_from + "/pipe.jpg").c_str(), 0644), 0);
    const int writer = ::open((m_from + "/pipe.jpg").c_str(), O_RDWR | O_NONBLOCK);
    PassOptions options;  // zz.jpg, the last, is written to after it was packed
    options.onProgress = [&](size_t, size_t) {
        m_put["zz.jpg"] += "!", WriteFile(m_from + "/zz.jpg", m_put["zz.jpg"]);
    };
    const TransferReport report = Run(kNameNothing, options);
    ::close(writer);
    // By name: huge, IMG_0001.JPG, IMG_0001.jpg, locked, passwd, pipe, zz.
    std::vector<Outcome> outcomes;
    for (const TransferItem& item : report.items) {
        outcomes.push_back(item.outcome);
    }
    using enum Outcome;
    EXPECT_EQ(outcomes, (std::vector{Kept, Kept, Done, CopyKept, Kept, Kept, Kept}));
    EXPECT_EQ(report.items.back().reason, "it changed after it was packed, so it stays");
    EXPECT_EQ(ListNames(m_from),
              (Names{"IMG_0001.JPG", "huge.jpg", "locked.jpg", "passwd.jpg", "pipe.jpg", "zz.jpg"}));
    EXPECT_EQ(ReadBack(Archive()).size(), 3u);
}

TEST_P(ArchivePassTest, AMissingDestinationRenamesInPlaceAndADryRunChangesNothing) {
    Put({"a.jpg", "b.jpg"});
    m_inputs.text = "x";
    PassOptions dryRun;
    dryRun.dryRun = true;
    EXPECT_EQ(Run(kNameText, dryRun).Done(), 2u);
    EXPECT_EQ(ListNames(m_to), Names{});
    m_to = m_dir / "none";
    const TransferReport report = Run(kNameText);
    EXPECT_EQ(report.Failed(), 2u);
    EXPECT_FALSE(report.problem.empty());
    EXPECT_EQ(ListNames(m_from), (Names{"a -x.jpg", "b -x.jpg"}));
}

// An archive that another program moves away during the pass is not taken for its own. (Stopped during the
// pass, it closes, checks and empties the archive it has: the end-to-end CLI table.)
TEST_P(ArchivePassTest, ChecksOnlyItsOwnArchive) {
    Put({"c.jpg"});
    PassOptions options;
    options.onProgress = [&](size_t, size_t) {
        ::rename(Archive().c_str(), Archive("moved.zip").c_str());
        WriteFile(Archive(), "someone else's");
    };
    EXPECT_NE(Run(kNameNothing, options).items.at(0).reason.find("moved or replaced"), std::string::npos);
    EXPECT_EQ(ListNames(m_from), Names{"c.jpg"});
}

INSTANTIATE_TEST_SUITE_P(Compression, ArchivePassTest, testing::Values("standard", "fast"),
                         [](const auto& mode) { return std::string(mode.param); });

}  // namespace
