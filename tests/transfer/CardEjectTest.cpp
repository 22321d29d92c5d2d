// When a card is ejected after a transfer, through a disk service that records what it was asked.
#include "transfer/CardEject.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;

namespace {

struct FakeDisks : DiskService {
    std::optional<Disk> disk = Disk{"fs", "drive", true, true};
    std::string unmountFails, asked;
    std::optional<Disk> Find(uint64_t, std::string&) override { return disk; }
    StepResult Unmount(const Disk& d) override {
        asked += "unmount " + d.fileSystem + "\n";
        return unmountFails.empty() ? StepResult::Ok() : StepResult::Failed(unmountFails);
    }
    StepResult PowerOff(const Disk& d) override {
        asked += "power off " + d.drive + "\n";
        return StepResult::Failed("ignored");
    }
};

TEST(EjectCard, OnlyAfterATransferThatWentWellFromARemovableDriveNoOtherTransferUses) {
    TempDir dir;
    TransferReport good, failed, stopped, notRun;
    good.items = {{"a.jpg", "a.jpg", Outcome::Done, "", ""}};
    failed.items = {{"a.jpg", "a.jpg", Outcome::CopyKept, "protected", ""}};
    stopped.cancelled = true;
    notRun.problem = "cannot read the camera folder";
    enum Change { kNone, kNotAsked, kDryRun, kNoService, kFixed, kBuiltIn, kBusy, kUnmountFails };
    // The report, what is different, what the report says of the card, what the service was asked.
    const std::tuple<TransferReport, Change, std::string, std::string> cases[] = {
        {good, kNone, "You can remove the card.", "unmount fs\npower off drive\n"},
        {good, kBuiltIn, "You can remove the card.", "unmount fs\n"},
        {good, kNotAsked, "", ""},
        {good, kDryRun, "", ""},
        {failed, kNone, "The card is not ejected: 1 file that the transfer took stays on it.", ""},
        {stopped, kNone, "The card is not ejected: the transfer was stopped.", ""},
        {notRun, kNone, "The card is not ejected: the transfer did not run.", ""},
        {good, kNoService, "The card is not ejected: this program can't reach the desktop's disk service.",
         ""},
        {good, kFixed, "The card is not ejected: the camera folder is not on a removable drive.", ""},
        {good, kBusy, "The card is not ejected: another Tovaro transfer is using it.", ""},
        {good, kUnmountFails, "The card is not ejected: the device is busy.", "unmount fs\n"},
    };
    for (const auto& [report, change, said, asked] : cases) {
        FakeDisks disks;
        disks.disk->canPowerOff = change != kBuiltIn;
        disks.disk->removable = change != kFixed;
        disks.unmountFails = change == kUnmountFails ? "the device is busy" : "";
        PassOptions options;
        options.eject = change != kNotAsked;
        options.dryRun = change == kDryRun;
        DriveUse use(dir.Path(), dir.Path());
        std::optional<DriveUse> other;
        if (change == kBusy) {
            other.emplace(dir.Path(), dir.Path());
        }
        EXPECT_EQ(EjectCard(report, options, use, change == kNoService ? nullptr : &disks), said) << said;
        EXPECT_EQ(disks.asked, asked) << said;
    }
}

}  // namespace
