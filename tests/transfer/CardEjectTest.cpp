// When a card is ejected after a transfer, through a disk service that records what it was asked.
#include "transfer/CardEject.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;

namespace {

struct FakeDisks : DiskService {
    Disk disk{"fs", "drive", true, true};
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
    const std::string no = "The card is not ejected: ";
    enum Change {
        kNone,
        kNotAsked,
        kDryRun,
        kFailed,
        kStopped,
        kNotRun,
        kNoService,
        kFixed,
        kBusy,
        kUnmountFails
    };
    // What is different from a transfer of one file that went well; what the report says of the card, and
    // what the service was asked.
    const std::pair<Change, std::string> cases[] = {
        {kNone, "You can remove the card.\nunmount fs\npower off drive\n"},
        {kNotAsked, "\n"},
        {kDryRun, "\n"},
        {kFailed, no + "1 file that the transfer took stays on it.\n"},
        {kStopped, no + "the transfer was stopped.\n"},
        {kNotRun, no + "the transfer did not run.\n"},
        {kNoService, no + "this program can't reach the desktop's disk service.\n"},
        {kFixed, no + "the camera folder is not on a removable drive.\n"},
        {kBusy, no + "another Tovaro transfer is using it.\n"},
        {kUnmountFails, no + "the device is busy.\nunmount fs\n"},
    };
    for (const auto& [change, said] : cases) {
        TransferReport report;
        report.items.emplace_back().outcome = change == kFailed ? Outcome::CopyKept : Outcome::Done;
        report.cancelled = change == kStopped;
        report.problem = change == kNotRun ? "cannot read the camera folder" : "";
        FakeDisks disks;
        disks.disk.removable = change != kFixed;
        disks.unmountFails = change == kUnmountFails ? "the device is busy" : "";
        PassOptions options;
        options.dryRun = change == kDryRun;
        options.eject = change != kNotAsked;
        DriveUse use(dir.Path(), dir.Path());
        // Another transfer's use of the drive, or none (no folder: no drive).
        const DriveUse other(change == kBusy ? dir.Path() : "", dir.Path());
        EXPECT_EQ(
            EjectCard(report, options, use, change == kNoService ? nullptr : &disks) + "\n" + disks.asked,
            said);
    }
}

}  // namespace
