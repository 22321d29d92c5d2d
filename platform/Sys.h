// The system calls that touch file contents and names, behind one table of function pointers.
//
// Every open (O_TMPFILE too), read, write, flush, rename, link and removal of a file (and its metadata, its
// file system's type, its locks and leases, and cache advice) goes through Sys(), so a test can swap one call
// for a failing one (a short write, a failed fsync, a rename that is refused) without needing permissions it
// cannot provoke as root. Production code never changes the table. A folder to list is opened through it
// too, so a test can make it unreadable. Left out, as nothing a test needs to fail goes through them: reading
// a folder's entries, reading and making symbolic links, setting a copy's mode and times, and the advice to
// start writeback early.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

namespace platform {

struct SysCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fsync)(int fd);
    int (*syncfs)(int fd);  // flushes the whole file system that holds fd
    int (*ftruncate)(int fd, off_t length);
    int (*fadvise)(int fd, off_t offset, off_t length, int advice);
    int (*statx)(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out);
    int (*renameat2)(const char* from, const char* to, unsigned int flags);  // flags as for renameat2(2)
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* existing, const char* created);
    int (*unlink)(const char* path);
    int (*flock)(int fd, int operation);  // advisory whole-file lock, as flock(2)
    // linkat(2); AT_SYMLINK_FOLLOW through /proc/self/fd/N names an unnamed (O_TMPFILE) file.
    int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
    int (*fcntl)(int fd, int command, long argument);           // F_SETSIG, F_SETLEASE, F_GETLEASE
    int (*fcntlLock)(int fd, int command, struct flock* lock);  // F_OFD_SETLK, F_OFD_GETLK
    int (*fstatfs)(int fd, struct statfs* out);                 // the file system's type
};

// The table in force.
const SysCalls& Sys();

// The real calls, for a test to copy and change one entry of.
SysCalls RealSysCalls();

// Installs a replacement table for the lifetime of the object (tests only; not thread-safe).
class ScopedSysCalls {
  public:
    explicit ScopedSysCalls(const SysCalls& replacement);
    ~ScopedSysCalls();
    ScopedSysCalls(const ScopedSysCalls&) = delete;
    ScopedSysCalls& operator=(const ScopedSysCalls&) = delete;

  private:
    SysCalls m_previous;
};

}  // namespace platform
