#include "transfer/CardEject.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cstdlib>

#include "platform/Path.h"
#include "platform/Sys.h"

namespace transfer {
namespace {

std::string NotEjected(const std::string& why) {
    return "The card is not ejected: " + why + ".";
}

std::string Files(size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

DriveUse::DriveUse(const std::string& fromDir, std::string lockFolder) {
    const auto info = platform::InfoOfPath(fromDir);
    if (!info) {
        return;
    }
    m_device = info->device;
    const std::string name = "tovaro-" + std::to_string(::getuid()) + "-drive-" +
                             std::to_string(major(info->device)) + "-" + std::to_string(minor(info->device)) +
                             ".lock";
    const std::string path = platform::JoinPath(lockFolder, name);
    auto lock = platform::File::Open(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (lock && lock->TryLockShared()) {  // else held alone by a transfer that is ejecting this drive
        m_lock = std::move(*lock);
    }
}

bool DriveUse::TakeAlone() {
    return m_lock.IsOpen() && m_lock.TryLockExclusive();
}

std::string DriveUse::DefaultLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && runtime[0] == '/' ? runtime : "/tmp";
}

std::string EjectCard(const TransferReport& report, const PassOptions& options, DriveUse& use,
                      DiskService* service) {
    if (!options.eject || options.dryRun) {
        return {};
    }
    if (!report.problem.empty()) {
        return NotEjected("the transfer did not run");
    }
    if (report.cancelled) {
        return NotEjected("the transfer was stopped");
    }
    if (report.Failed() > 0) {
        return NotEjected(Files(report.Failed()) + " that the transfer took " +
                          (report.Failed() == 1 ? "stays" : "stay") + " on it");
    }
    if (!report.unread.empty()) {
        return NotEjected("a folder of the card could not be read, and what it holds stays");
    }
    if (service == nullptr) {
        return NotEjected("this program can't reach the desktop's disk service");
    }
    if (!use.Device()) {
        return NotEjected("the camera folder can't be found");
    }
    std::string why;
    const std::optional<DiskService::Disk> disk = service->Find(*use.Device(), why);
    if (!disk || !disk->removable) {
        return NotEjected(disk ? "the camera folder is not on a removable drive" : why);
    }
    if (!use.TakeAlone()) {
        return NotEjected("another Tovaro transfer is using it");
    }
    if (const StepResult unmounted = service->Unmount(*disk); !unmounted.IsOk()) {
        return NotEjected(unmounted.Reason());
    }
    // Unmounted is enough to take the card out; switching the drive off is a courtesy that may fail.
    if (disk->canPowerOff) {
        service->PowerOff(*disk);
    }
    return kCardEjected;
}

}  // namespace transfer
