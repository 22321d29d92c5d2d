#include "platform/Remove.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/statfs.h>
#include <cerrno>
#include <ctime>

#include "platform/Sys.h"

namespace platform {
namespace {

// The signal a lease break sends. The default, SIGIO, would end the program; SIGURG is ignored unless a
// handler is set, and nothing here needs to hear it: the gate asks F_GETLEASE instead.
constexpr long kLeaseBreakSignal = SIGURG;

// File systems where a lease sees only the writers of this machine, or is not kept at all.
bool LeasesSeeEveryWriter(int fd) {
    struct statfs fs {};
    if (Sys().fstatfs(fd, &fs) != 0) {
        return false;
    }
    constexpr long kCifs = 0xFF534D42, kSmb2 = 0xFE534D42, kFuse = 0x65735546, kCeph = 0x00c36400,
                   kV9fs = 0x01021997, kAfs = 0x5346414F, kOcfs2 = 0x7461636f, kGfs2 = 0x01161970;
    switch (static_cast<long>(fs.f_type)) {
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case CODA_SUPER_MAGIC:
        case kCifs:
        case kSmb2:
        case kFuse:
        case kCeph:
        case kV9fs:
        case kAfs:
        case kOcfs2:
        case kGfs2:
            return false;
        default:
            return true;
    }
}

// The heuristic where no lease can tell: no write for kQuietSeconds. The caller has checked that the file is
// unchanged since the copy began, so it has stood still from its last write until now.
bool StoodStill(const FileInfo& info) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - info.modified.tv_sec >= kQuietSeconds;
}

// Errors of F_SETLEASE that mean "no lease here" rather than "someone writes it".
bool NoLeaseToBeHad(int error) {
    return error == EACCES || error == EPERM || error == EINVAL || error == ENOLCK || error == ENOSYS ||
           error == EOPNOTSUPP;
}

// Unlinks `path` when it still names the file open as `file` (a lease is held on it, or none can be).
Result<Removal> UnlinkIfStillThere(const std::string& path, const File& file) {
    const auto held = file.Info();
    const auto there = InfoOfPath(path, /*followLinks=*/false);
    if (!held || !there || !held->IsSameFile(*there)) {
        return there || there.Error().error != ENOENT ? Removal::Changed : Removal::Gone;
    }
    if (Sys().unlink(path.c_str()) != 0) {
        return errno == ENOENT ? Result<Removal>(Removal::Gone) : Failure::Now("unlink");
    }
    return Removal::Removed;
}

}  // namespace

Result<Removal> RemoveIfUnchanged(const std::string& path, const FileInfo& copied) {
    File file(Sys().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
    if (!file.IsOpen()) {
        switch (errno) {
            case ENOENT:
                return Removal::Gone;
            case ELOOP:
                return Removal::Changed;  // a link stands there now
            case EWOULDBLOCK:
                return Removal::BeingWritten;  // another program holds a write lease on it
            default:
                return Failure::Now("open");
        }
    }
    const auto now = file.Info();
    if (!now) {
        return Failure::Now("statx");
    }
    if (!now->IsUnchangedSince(copied)) {
        return Removal::Changed;
    }
    if (now->IsWriteProtected()) {
        return Removal::Protected;
    }
    const int fd = file.Descriptor();
    int leaseError = ENOLCK;
    if (LeasesSeeEveryWriter(fd)) {
        // The signal is set before the lease exists, so a break can never arrive as SIGIO.
        leaseError = Sys().fcntl(fd, F_SETSIG, kLeaseBreakSignal) != 0 ? errno
                     : Sys().fcntl(fd, F_SETLEASE, F_RDLCK) != 0       ? errno
                                                                       : 0;
    }
    if (leaseError == EAGAIN || leaseError == EBUSY) {
        return Removal::BeingWritten;
    }
    if (leaseError != 0) {
        if (!NoLeaseToBeHad(leaseError)) {
            errno = leaseError;
            return Failure::Now("fcntl");
        }
        return StoodStill(*now) ? UnlinkIfStillThere(path, file) : Removal::BeingWritten;
    }
    // A writer that opened the file since the lease was taken has asked to break it, and waits for us.
    const int lease = Sys().fcntl(fd, F_GETLEASE, 0);
    Result<Removal> result = lease == F_RDLCK ? UnlinkIfStillThere(path, file) : Removal::BeingWritten;
    Sys().fcntl(fd, F_SETLEASE, F_UNLCK);
    return result;
}

}  // namespace platform
