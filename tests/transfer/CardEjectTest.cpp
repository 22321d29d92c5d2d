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
    const std::string no = "The card is not ejected: ";
    enum Change { kNone, kNotAsked, kDryRun, kNoService, kFixed, kBuiltIn, kBusy, kUnmountFails };
    // The report, what is different; what the report says of the card, and what the service was asked.
    const std::tuple<TransferReport, Change, std::string> cases[] = {
        {good, kNone, "You can remove the card.\nunmount fs\npower off drive\n"},
        {good, kBuiltIn, "You can remove the card.\nunmount fs\n"},
        {good, kNotAsked, "\n"},
        {good, kDryRun, "\n"},
        {failed, kNone, no + "1 file that the transfer took stays on it.\n"},
        {stopped, kNone, no + "the transfer was stopped.\n"},
        {notRun, kNone, no + "the transfer did not run.\n"},
        {good, kNoService, no + "this program can't reach the desktop's disk service.\n"},
        {good, kFixed, no + "the camera folder is not on a removable drive.\n"},
        {good, kBusy, no + "another Tovaro transfer is using it.\n"},
        {good, kUnmountFails, no + "the device is busy.\nunmount fs\n"},
    };
    for (const auto& [report, change, said] : cases) {
        FakeDisks disks;
        disks.disk->canPowerOff = change != kBuiltIn;
        disks.disk->removable = change != kFixed;
        disks.unmountFails = change == kUnmountFails ? "the device is busy" : "";
        PassOptions options;
        options.dryRun = change == kDryRun;
        options.eject = change != kNotAsked;
        DriveUse use(dir.Path(), dir.Path());
        std::optional<DriveUse> other;
        if (change == kBusy) {
            other.emplace(dir.Path(), dir.Path());
        }
        EXPECT_EQ(
            EjectCard(report, options, use, change == kNoService ? nullptr : &disks) + "\n" + disks.asked,
            said);
    }
}

}  // namespace
