// Ejecting the camera's card after a transfer that went well (eject=1, --eject): the rules of when, and the
// lock that keeps one transfer from ejecting a card that another is still reading. The desktop's disk service
// that does the unmounting is behind DiskService, which the front ends provide.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/File.h"
#include "transfer/TransferReport.h"

namespace transfer {

// The desktop's disk service, as much of it as ejecting a card needs.
class DiskService {
  public:
    virtual ~DiskService() = default;

    // A file system as the service knows it, and the drive that holds it.
    struct Disk {
        std::string fileSystem;    // the service's name for the file system
        std::string drive;         // and for its drive
        bool removable = false;    // its media can be taken out: a card reader, a camera, a stick
        bool canPowerOff = false;  // the drive can be switched off (a USB reader can, a built-in slot can't)
    };
    // The file system of the device number `device` (a file's st_dev). No value, with `why`, when the
    // service does not know it (it is not a disk of its own: a folder in memory, on the network) or can't
    // be asked.
    virtual std::optional<Disk> Find(uint64_t device, std::string& why) = 0;
    virtual StepResult Unmount(const Disk& disk) = 0;
    virtual StepResult PowerOff(const Disk& disk) = 0;
};

// One transfer's use of the drive that holds its camera folder, from before the pass until the card is
// ejected or the transfer ends: a shared lock on a file of the drive's own, in `lockFolder` (by default
// $XDG_RUNTIME_DIR, else the system's temporary folder), so that transfers at once see each other.
class DriveUse {
  public:
    explicit DriveUse(const std::string& fromDir, std::string lockFolder = DefaultLockFolder());

    // Whether no other transfer uses the drive now; the use is then this one's alone until it ends.
    bool TakeAlone();
    std::optional<uint64_t> Device() const { return m_device; }

    static std::string DefaultLockFolder();

  private:
    std::optional<uint64_t> m_device;
    platform::File m_lock;
};

inline constexpr const char* kCardEjected = "You can remove the card.";

// After a pass with options.eject: unmounts the card that holds the camera folder through `service` (and
// powers its drive off where it can), when the pass ran whole, nothing it took failed and no other transfer
// uses the drive. Returns what the report says of the card: kCardEjected or why it was not
// ejected. "" when no ejection was asked, or in a dry run.
std::string EjectCard(const TransferReport& report, const PassOptions& options, DriveUse& use,
                      DiskService* service);

}  // namespace transfer
