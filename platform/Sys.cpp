#include "platform/Sys.h"

#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

namespace platform {
namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}
// As every other call here: -1 with errno set on failure (posix_fadvise returns its error instead).
int RealFadvise(int fd, off_t offset, off_t length, int advice) {
    const int error = ::posix_fadvise(fd, offset, length, advice);
    errno = error != 0 ? error : errno;
    return error != 0 ? -1 : 0;
}
int RealFcntl(int fd, int command, long argument) {
    return ::fcntl(fd, command, argument);
}
int RealFcntlLock(int fd, int command, struct flock* lock) {
    return ::fcntl(fd, command, lock);
}
int RealRenameat2(const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

SysCalls& Current() {
    static SysCalls table = RealSysCalls();
    return table;
}

}  // namespace

SysCalls RealSysCalls() {
    return SysCalls{
        .open = RealOpen,
        .close = ::close,
        .read = ::read,
        .write = ::write,
        .pread = ::pread,
        .pwrite = ::pwrite,
        .lseek = ::lseek,
        .fsync = ::fsync,
        .syncfs = ::syncfs,
        .ftruncate = ::ftruncate,
        .fadvise = RealFadvise,
        .statx = ::statx,
        .renameat2 = RealRenameat2,
        .rename = ::rename,
        .link = ::link,
        .unlink = ::unlink,
        .flock = ::flock,
        .linkat = ::linkat,
        .fcntl = RealFcntl,
        .fcntlLock = RealFcntlLock,
        .fstatfs = ::fstatfs,
    };
}

const SysCalls& Sys() {
    return Current();
}

ScopedSysCalls::ScopedSysCalls(const SysCalls& replacement) : m_previous(Current()) {
    Current() = replacement;
}

ScopedSysCalls::~ScopedSysCalls() {
    Current() = m_previous;
}

}  // namespace platform
