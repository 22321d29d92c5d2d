// The desktop's services over D-Bus: the disk service (UDisks) that ejects a card, and the notification
// service that tells of a transfer that ended while the window was not in front. Both front ends use them
// through plain interfaces; this is the only part of the program that speaks D-Bus.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transfer/CardEject.h"

namespace desktop {

// The device file of the block device with the number `device` ("/dev/sdb1"), as the kernel names it; ""
// when there is none (a folder in memory, on the network).
std::string DeviceNodeOf(uint64_t device);

// The disk service on the system bus, or on the bus at `busAddress` when one is given. `interactive`: the
// service may ask the user (for a password) before it unmounts; tovaro-cli never lets it.
std::unique_ptr<transfer::DiskService> MakeDiskService(
    bool interactive, const std::string& busAddress = {},
    std::function<std::string(uint64_t)> deviceNode = DeviceNodeOf);

// Shows a desktop notification. Nothing happens, and nothing is said, when the desktop has no notification
// service.
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void Notify(const std::string& summary, const std::string& body) = 0;
};

// The notification service on the session bus, or on the bus at `busAddress` when one is given.
std::unique_ptr<Notifier> MakeNotifier(const std::string& busAddress = {});

}  // namespace desktop
