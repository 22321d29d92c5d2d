// An open file descriptor that closes itself, and the facts about a file that Tovaro needs.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Outcome.h"

namespace platform {

struct FileInfo {
    mode_t mode = 0;  // type and permission bits, as st_mode
    uint64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t links = 1;   // hard links to the file
    uid_t owner = 0;      // the owning user
    timespec modified{};  // last write
    timespec accessed{};  // last access
    timespec changed{};   // last change of contents or attributes (ctime)
    timespec born{};      // birth time where the file system keeps one, else the last write
    bool bornKnown = false;

    bool IsDirectory() const;
    bool IsRegular() const;
    bool IsSymlink() const;
    bool OwnerMayWrite() const;
    // No write permission bit set at all: how a camera marks a protected picture.
    bool IsWriteProtected() const;
    bool IsSameFile(const FileInfo& other) const { return device == other.device && inode == other.inode; }
    // The same file with the same size, last write and last change: nothing has written to it in between.
    bool IsUnchangedSince(const FileInfo& earlier) const;
    // The time that stands in for "creation time": birth time, or the last write where none is kept.
    timespec CreationTime() const { return born; }
};

// Facts about the file at `path`; the link itself when followLinks is false.
Result<FileInfo> InfoOfPath(const std::string& path, bool followLinks = true);

class File {
  public:
    File() = default;
    explicit File(int fd) : m_fd(fd) {}
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // A failure of an open names the path.
    static Result<File> OpenForReading(const std::string& path);
    // A regular file only: a link is not followed (ELOOP), nothing blocks on a pipe, and anything that is not
    // a regular file once opened is refused (EINVAL). Checked on the open descriptor, so the name can't be
    // swapped for something else in between.
    static Result<File> OpenRegularForReading(const std::string& path);
    static Result<File> OpenForReadWrite(const std::string& path);
    // open(2) with these flags.
    static Result<File> Open(const std::string& path, int flags, mode_t mode = 0);
    // A new file that must not exist yet (O_EXCL).
    static Result<File> CreateNew(const std::string& path, mode_t mode = 0644);

    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }

    // Reads up to `count` bytes; 0 at the end. Retries interrupted reads.
    Result<size_t> Read(void* buffer, size_t count);
    // Writes until all is written or an error stops it (one that makes no progress: ENOSPC); *written (when
    // given) is how much was.
    Status WriteAll(const void* buffer, size_t count, size_t* written = nullptr);
    // Reads or writes `count` bytes at `offset` in one call, leaving the file position alone. Ok only when
    // every byte was read or written (a short one fails with EIO, or ENODATA for a read past the end).
    Status ReadAt(uint64_t offset, void* buffer, size_t count);
    Status WriteAt(uint64_t offset, const void* buffer, size_t count);
    Status Seek(uint64_t offset);
    Status Truncate(uint64_t length);
    Status Sync();
    // Takes an exclusive lock on the whole file without waiting: an open-file-description lock, which works
    // on network file systems too and is held until this descriptor closes. Needs a descriptor open for
    // writing. Fails with EAGAIN when another open file holds a lock on it. Where the file system keeps no
    // locks at all (ENOLCK) it goes on without one, and LocksWereUnavailable tells so once.
    Status TryLockExclusive();
    // The same, shared: many may hold one at once, and none while another holds an exclusive one. Needs a
    // descriptor open for reading. Asked of a file that this one holds shared, TryLockExclusive turns the
    // lock into an exclusive one when nobody else holds one, and leaves it shared when somebody does.
    Status TryLockShared();
    // Whether another open file holds a lock on this one (any descriptor will do, a read-only one too).
    Result<bool> IsLockedElsewhere() const;
    // Drops the file's cached pages, so that later reads come from the disk.
    Status DropCache();
    Result<FileInfo> Info() const;
    // Closes now and reports whether the close succeeded; the destructor closes silently.
    Status Close();

  private:
    int m_fd = -1;
};

// The file that `path` names: the target of a symbolic link (resolved whole), else `path` itself. Only a link
// is resolved, so a run of calls (the counter after every file of a pass) pays for no walk along the path.
std::string LinkTarget(const std::string& path);

// Writes `contents` to `path` by creating a new file beside it, flushing it and renaming it over the old one,
// so a crash or a full disk leaves either the old file or the new one, never a mixture. A failure leaves the
// old file as it was.
Status ReplaceFileContents(const std::string& path, const std::string& contents);

// A new file without a name (O_TMPFILE) in the folder of `path`, for a copy that gets its name only once it
// is whole (NameUnnamed): a run killed before that leaves nothing behind. Where the file system has no
// unnamed files, a named temporary file (CreateTemporaryBeside), whose name goes to *tempPath; *tempPath is
// empty for an unnamed one.
Result<File> CreateCopyBeside(const std::string& path, std::string* tempPath, mode_t mode = 0600);

// Gives an unnamed file (CreateCopyBeside) the name `path`, never replacing what is there (EEXIST).
Status NameUnnamed(const File& file, const std::string& path);

// Creates a new file with a fresh hidden name in the folder of `path` (so a later rename onto `path` stays on
// one file system); its name goes to *tempPath. The name says which machine, boot and process made it, and
// the file is locked at once for as long as it is open, so that RemoveStaleTemporaries leaves it alone.
Result<File> CreateTemporaryBeside(const std::string& path, std::string* tempPath, mode_t mode = 0600);

// Temporary files are named .tovaro-MACHINE-BOOT-PID-RANDOM.part (the machine id and the boot id as 32 hex
// digits), so that one left by a killed run is recognised as such and nothing else ever is.
inline constexpr std::string_view kTemporaryPrefix = ".tovaro-";
inline constexpr std::string_view kTemporarySuffix = ".part";

// Removes the temporary files in `folder` that a killed run left behind: only files named as
// CreateTemporaryBeside names them, made on this machine in an earlier boot or by a process that is gone,
// on which no one holds a lock. A file of any other name is never touched.
void RemoveStaleTemporaries(const std::string& folder);

// True once, the first time after a lock was skipped because the file system keeps none (ENOLCK), so that
// the warning is given once.
bool LocksWereUnavailable();

// Flushes the file or folder at `path` to the disk (fsync works through any descriptor, so it is opened for
// reading only).
Status SyncPath(const std::string& path);

// Reads from the file's position to its end.
Result<std::string> ReadToEnd(File& file);

// Reads a whole (small) file (ENOENT when there is none).
Result<std::string> ReadWholeFile(const std::string& path);

}  // namespace platform
