#include "platform/File.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <utility>

#include "platform/Folder.h"
#include "platform/Path.h"
#include "platform/Sys.h"

namespace platform {
namespace {

timespec FromStatx(const struct statx_timestamp& t) {
    return timespec{t.tv_sec, static_cast<long>(t.tv_nsec)};
}

FileInfo FromStatx(const struct statx& sx) {
    FileInfo info;
    info.mode = sx.stx_mode;
    info.size = sx.stx_size;
    info.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    info.inode = sx.stx_ino;
    info.links = sx.stx_nlink;
    info.owner = sx.stx_uid;
    info.modified = FromStatx(sx.stx_mtime);
    info.accessed = FromStatx(sx.stx_atime);
    info.changed = FromStatx(sx.stx_ctime);
    info.bornKnown = (sx.stx_mask & STATX_BTIME) != 0;
    info.born = info.bornKnown ? FromStatx(sx.stx_btime) : info.modified;
    return info;
}

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;

std::atomic<bool> g_locksUnavailable{false};

// The first 32 hex digits of a file such as /etc/machine-id, dashes left out; empty when there is none.
std::string HexIdFrom(const char* path) {
    const auto text = ReadWholeFile(path);
    std::string id;
    for (const char c : text ? *text : std::string()) {
        if (std::isxdigit(static_cast<unsigned char>(c)) && id.size() < 32) {
            id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return id.size() == 32 ? id : std::string();
}

const std::string& MachineId() {
    static const std::string id = [] {
        const std::string etc = HexIdFrom("/etc/machine-id");
        return etc.empty() ? HexIdFrom("/var/lib/dbus/machine-id") : etc;
    }();
    return id;
}

const std::string& BootId() {
    static const std::string id = HexIdFrom("/proc/sys/kernel/random/boot_id");
    return id;
}

// What a temporary file's name says about its maker.
struct Maker {
    std::string machine;
    std::string boot;
    pid_t pid = 0;
};

// The maker named by a temporary file's name, or none when the name is not exactly of that form.
std::optional<Maker> MakerOf(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
        return std::nullopt;
    }
    name =
        name.substr(kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    const auto hex = [](std::string_view part) {
        return part.size() == 32 && std::all_of(part.begin(), part.end(), [](char c) {
                   return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
               });
    };
    if (name.size() < 32 + 1 + 32 + 1 + 1 + 1 + 16 || !hex(name.substr(0, 32)) || name[32] != '-' ||
        !hex(name.substr(33, 32)) || name[65] != '-') {
        return std::nullopt;
    }
    const std::string_view rest = name.substr(66);
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos || rest.size() - dash - 1 != 16 || dash == 0 || dash > 10) {
        return std::nullopt;
    }
    long pid = 0;
    for (const char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        pid = pid * 10 + (c - '0');
    }
    return Maker{std::string(name.substr(0, 32)), std::string(name.substr(33, 32)), static_cast<pid_t>(pid)};
}

// Whether the maker of a temporary file can no longer be using it: it is of this machine, and of an earlier
// boot or a process that is gone. A process that is there may be another one with a reused number: its
// file then stays, which is safe.
bool MakerIsGone(const Maker& maker) {
    if (MachineId().empty() || maker.machine != MachineId()) {
        return false;
    }
    return maker.boot != BootId() || (::kill(maker.pid, 0) != 0 && errno == ESRCH);
}

}  // namespace

bool FileInfo::IsDirectory() const {
    return S_ISDIR(mode);
}
bool FileInfo::IsRegular() const {
    return S_ISREG(mode);
}
bool FileInfo::IsSymlink() const {
    return S_ISLNK(mode);
}
bool FileInfo::OwnerMayWrite() const {
    return (mode & S_IWUSR) != 0;
}
bool FileInfo::IsWriteProtected() const {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool FileInfo::IsUnchangedSince(const FileInfo& earlier) const {
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return IsSameFile(earlier) && size == earlier.size && same(modified, earlier.modified) &&
           same(changed, earlier.changed);
}

Result<FileInfo> InfoOfPath(const std::string& path, bool followLinks) {
    struct statx sx {};
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (Sys().statx(AT_FDCWD, path.c_str(), flags, kStatxMask, &sx) != 0) {
        return Failure::Now("statx", path);
    }
    return FromStatx(sx);
}

File::~File() {
    if (m_fd >= 0) {
        Sys().close(m_fd);
    }
}

File::File(File&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            Sys().close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Result<File> File::OpenRegularForReading(const std::string& path) {
    Result<File> file = Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    const Result<FileInfo> info = file ? file->Info() : Result<FileInfo>(file.Error());
    if (!info || !info->IsRegular()) {
        return info ? Failure{EINVAL, "open", path} : info.Error();
    }
    return file;
}

Result<File> File::Open(const std::string& path, int flags, mode_t mode) {
    File file(Sys().open(path.c_str(), flags, mode));
    return file.IsOpen() ? Result<File>(std::move(file)) : Failure::Now("open", path);
}

Result<File> File::OpenForReading(const std::string& path) {
    return Open(path, O_RDONLY);
}

Result<File> File::OpenForReadWrite(const std::string& path) {
    return Open(path, O_RDWR);
}

Result<File> File::CreateNew(const std::string& path, mode_t mode) {
    return Open(path, O_RDWR | O_CREAT | O_EXCL, mode);
}

Result<size_t> File::Read(void* buffer, size_t count) {
    for (;;) {
        const ssize_t n = Sys().read(m_fd, buffer, count);
        if (n >= 0) {
            return static_cast<size_t>(n);
        }
        if (errno != EINTR) {
            return Failure::Now("read");
        }
    }
}

Status File::WriteAll(const void* buffer, size_t count, size_t* written) {
    const auto* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    Status status;
    while (done < count && status) {
        const ssize_t n = Sys().write(m_fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            // A write that makes no progress would otherwise loop for ever.
            status = Failure{n == 0 ? ENOSPC : errno, "write"};
        }
    }
    if (written != nullptr) {
        *written = done;
    }
    return status;
}

Status File::ReadAt(uint64_t offset, void* buffer, size_t count) {
    ssize_t n = 0;
    do {
        n = Sys().pread(m_fd, buffer, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Failure::Now("pread") : Status::Check(static_cast<size_t>(n) == count, ENODATA, "pread");
}

Status File::WriteAt(uint64_t offset, const void* buffer, size_t count) {
    ssize_t n = 0;
    do {
        n = Sys().pwrite(m_fd, buffer, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Failure::Now("pwrite") : Status::Check(static_cast<size_t>(n) == count, EIO, "pwrite");
}

Status File::Seek(uint64_t offset) {
    const off_t at = Sys().lseek(m_fd, static_cast<off_t>(offset), SEEK_SET);
    return at < 0 ? Failure::Now("lseek") : Status::Check(at == static_cast<off_t>(offset), EIO, "lseek");
}

Status File::Truncate(uint64_t length) {
    return Status::Check(Sys().ftruncate(m_fd, static_cast<off_t>(length)) == 0, "ftruncate");
}

Status File::Sync() {
    return Status::Check(Sys().fsync(m_fd) == 0, "fsync");
}

namespace {

Status TryLock(int fd, short kind) {
    struct flock lock {};
    lock.l_type = kind;
    lock.l_whence = SEEK_SET;
    for (;;) {
        if (Sys().fcntlLock(fd, F_OFD_SETLK, &lock) == 0) {
            return {};
        }
        if (errno == ENOLCK) {
            g_locksUnavailable = true;
            return {};
        }
        if (errno != EINTR) {
            return Failure{errno == EACCES ? EAGAIN : errno, "fcntl"};
        }
    }
}

}  // namespace

Status File::TryLockExclusive() {
    return TryLock(m_fd, F_WRLCK);
}

Status File::TryLockShared() {
    return TryLock(m_fd, F_RDLCK);
}

Result<bool> File::IsLockedElsewhere() const {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (Sys().fcntlLock(m_fd, F_OFD_GETLK, &lock) != 0) {
        return Failure::Now("fcntl");
    }
    return lock.l_type != F_UNLCK;
}

bool LocksWereUnavailable() {
    static std::atomic<bool> told{false};
    return g_locksUnavailable.load() && !told.exchange(true);
}

Status File::DropCache() {
    return Status::Check(Sys().fadvise(m_fd, 0, 0, POSIX_FADV_DONTNEED) == 0, "fadvise");
}

Result<FileInfo> File::Info() const {
    struct statx sx {};
    if (Sys().statx(m_fd, "", AT_EMPTY_PATH, kStatxMask, &sx) != 0) {
        return Failure::Now("statx");
    }
    return FromStatx(sx);
}

Status File::Close() {
    if (m_fd < 0) {
        return {};
    }
    const int fd = std::exchange(m_fd, -1);
    return Status::Check(Sys().close(fd) == 0, "close");
}

Result<File> CreateCopyBeside(const std::string& path, std::string* tempPath, mode_t mode) {
    tempPath->clear();
    // Without O_EXCL, so that the file can be given a name later.
    Result<File> file = File::Open(FolderOf(path), O_TMPFILE | O_RDWR, mode);
    const int error = file.Error().error;
    return file || (error != EOPNOTSUPP && error != EISDIR) ? std::move(file)
                                                            : CreateTemporaryBeside(path, tempPath, mode);
}

Status NameUnnamed(const File& file, const std::string& path) {
    const std::string self = "/proc/self/fd/" + std::to_string(file.Descriptor());
    return Status::Check(Sys().linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0,
                         "linkat");
}

Result<File> CreateTemporaryBeside(const std::string& path, std::string* tempPath, mode_t mode) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const std::string folder = FolderOf(path);
    // A machine without an id still gets unique names; its files are then never taken for stale ones.
    const std::string maker = (MachineId().empty() ? std::string(32, 'x') : MachineId()) + "-" +
                              (BootId().empty() ? std::string(32, 'x') : BootId()) + "-" +
                              std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        uint64_t r = generator();
        for (int i = 0; i < 16; ++i, r /= 36) {
            suffix[i] = kDigits[r % 36];
        }
        suffix[16] = '\0';
        *tempPath =
            JoinPath(folder, std::string(kTemporaryPrefix) + maker + suffix + std::string(kTemporarySuffix));
        Result<File> file = File::CreateNew(*tempPath, mode);
        if (file) {
            // Held for as long as the file is open: it tells a sweep by another run that the file is in use.
            (void)file->TryLockExclusive();
        }
        if (file || file.Error().error != EEXIST) {
            return file;
        }
    }
    return Failure{EEXIST, "open", folder};
}

std::string LinkTarget(const std::string& path) {
    const Result<FileInfo> info = InfoOfPath(path, /*followLinks=*/false);
    if (info && info->IsSymlink()) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

Status ReplaceFileContents(const std::string& path, const std::string& contents) {
    // Follow a settings file that is a link, so the link stays a link.
    const std::string target = LinkTarget(path);
    const Result<FileInfo> info = InfoOfPath(target);
    const mode_t mode = info ? (info->mode & 07777) : 0644;
    std::string tempPath;
    Result<File> temp = CreateTemporaryBeside(target, &tempPath, mode);
    if (!temp) {
        return temp.Error();
    }
    ::fchmod(temp->Descriptor(), mode);  // CreateNew's mode went through the umask
    Status written = temp->WriteAll(contents.data(), contents.size());
    written = written ? temp->Sync() : written;
    written = written ? temp->Close() : written;
    written = written ? Status::Check(Sys().rename(tempPath.c_str(), target.c_str()) == 0, "rename", target)
                      : written;
    if (!written) {
        Sys().unlink(tempPath.c_str());
    }
    return written;
}

void RemoveStaleTemporaries(const std::string& folder) {
    const auto listing = ListFolder(folder);
    if (!listing) {
        return;
    }
    for (const FolderEntry& entry : *listing) {
        const auto maker = MakerOf(entry.name);
        if (!maker || !MakerIsGone(*maker)) {
            continue;
        }
        const std::string path = JoinPath(folder, entry.name);
        const Result<File> file = File::OpenRegularForReading(path);
        const Result<FileInfo> held = file ? file->Info() : file.Error();
        const auto there = InfoOfPath(path, /*followLinks=*/false);
        const Result<bool> locked = file ? file->IsLockedElsewhere() : Result<bool>(true);
        // Only a file that no one holds, and that is still the one we looked at, goes.
        if (held && there && held->IsSameFile(*there) && locked.Ok() && !*locked) {
            Sys().unlink(path.c_str());
        }
    }
}

Status SyncPath(const std::string& path) {
    Result<File> file = File::OpenForReading(path);
    const Status synced = file ? file->Sync() : file.Error();
    return synced ? synced : synced.Error().WithPath(path);
}

Result<std::string> ReadToEnd(File& file) {
    std::string contents;
    char buffer[16384];
    for (;;) {
        const Result<size_t> n = file.Read(buffer, sizeof buffer);
        if (!n || *n == 0) {
            return n ? Result<std::string>(std::move(contents)) : n.Error();
        }
        contents.append(buffer, *n);
    }
}

Result<std::string> ReadWholeFile(const std::string& path) {
    Result<File> file = File::OpenForReading(path);
    return file ? ReadToEnd(*file) : file.Error();
}

}  // namespace platform
