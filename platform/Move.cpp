#include "platform/Move.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "platform/Text.h"

namespace platform {
namespace {

// Whether two names reach one file that has no other names: on a case-insensitive file system, two spellings
// of one name. (Two hard links of one file are two names; renaming one onto the other would do nothing and
// leave both, so that is no move.)
bool IsSameUnlinkedFile(const std::string& a, const std::string& b) {
    const auto ia = InfoOfPath(a, false);
    const auto ib = InfoOfPath(b, false);
    return ia && ib && ia->device == ib->device && ia->inode == ib->inode && ia->links == 1;
}

// For file systems that refuse RENAME_NOREPLACE. A hard link fails with EEXIST rather than replace, so files
// and links are safe. A folder (or a file system without hard links) falls back to "check, then rename": a
// file that another program creates under `to` in between would be replaced, which we accept as that
// window is tiny and such file systems are rare.
int MoveWithoutFlag(const std::string& from, const std::string& to) {
    const auto info = InfoOfPath(from, false);
    if (!info) {
        return errno;
    }
    if (!info->IsDirectory()) {
        if (Sys().link(from.c_str(), to.c_str()) == 0) {
            if (Sys().unlink(from.c_str()) != 0) {
                const int saved = errno;
                Sys().unlink(to.c_str());
                return saved;
            }
            return 0;
        }
        const int e = errno;
        if (e == EEXIST || e == EXDEV || e == ENOENT) {
            return e;
        }
    }
    if (InfoOfPath(to, false)) {
        return EEXIST;
    }
    return Sys().rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Renames within one file system, never replacing; the last step of every move.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (Sys().renameat2(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int e = errno;
    if (e == EINVAL || e == ENOSYS || e == ENOTSUP) {
        return MoveWithoutFlag(from, to);
    }
    return e;
}

int RemoveQuietly(const std::string& path) {
    const int saved = errno;
    Sys().unlink(path.c_str());
    errno = saved;
    return saved;
}

int CopyRegularFile(const std::string& from, const std::string& to, const FileInfo& info) {
    File source = File::OpenForReading(from);
    if (!source.IsOpen()) {
        return errno;
    }
    std::string tempPath;
    File temp = CreateTemporaryBeside(to, &tempPath, 0600);
    if (!temp.IsOpen()) {
        return errno;
    }
    std::vector<char> buffer(1 << 17);
    for (;;) {
        const ssize_t n = source.Read(buffer.data(), buffer.size());
        if (n < 0 || (n > 0 && !temp.WriteAll(buffer.data(), static_cast<size_t>(n)))) {
            return RemoveQuietly(tempPath);
        }
        if (n == 0) {
            break;
        }
    }
    const timespec times[2] = {info.accessed, info.modified};
    if (::fchmod(temp.Descriptor(), info.mode & 07777) != 0 || ::futimens(temp.Descriptor(), times) != 0 ||
        !temp.Sync() || !temp.Close()) {
        return RemoveQuietly(tempPath);
    }
    if (const int e = RenameNoReplace(tempPath, to); e != 0) {
        Sys().unlink(tempPath.c_str());
        return e;
    }
    return 0;
}

int CopyLink(const std::string& from, const std::string& to) {
    std::vector<char> target(4096);
    const ssize_t n = ::readlink(from.c_str(), target.data(), target.size() - 1);
    if (n < 0) {
        return errno;
    }
    target[static_cast<size_t>(n)] = '\0';
    // symlink() cannot replace, so it is its own no-replace step.
    return ::symlink(target.data(), to.c_str()) == 0 ? 0 : errno;
}

int MoveAcrossFileSystems(const std::string& from, const std::string& to) {
    const auto info = InfoOfPath(from, false);
    if (!info) {
        return errno;
    }
    int e = EXDEV;  // folders (and devices, pipes, sockets) are not copied
    if (info->IsRegular()) {
        e = CopyRegularFile(from, to, *info);
    } else if (info->IsSymlink()) {
        e = CopyLink(from, to);
    }
    if (e != 0) {
        return e;
    }
    SyncPath(FolderOf(to));
    // The copy is safe on the disk; a source that can't be removed now stays beside it, as a move across
    // drives does elsewhere, and the caller is told.
    return Sys().unlink(from.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int MoveNoReplace(const std::string& from, const std::string& to) {
    int e = RenameNoReplace(from, to);
    if (e == EEXIST && from == to && InfoOfPath(from, false)) {
        e = 0;  // onto itself: nothing to do
    } else if (e == EEXIST && EqualIgnoringAsciiCase(NameOf(from), NameOf(to)) &&
               IsSameUnlinkedFile(from, to)) {
        // Only the letter case changes, on a case-insensitive file system.
        e = Sys().rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    } else if (e == EXDEV) {
        e = MoveAcrossFileSystems(from, to);
    }
    return e;
}

std::string DescribeError(int error) {
    switch (error) {
        case 0:
            return "no error";
        case EEXIST:
            return "a file with that name already exists";
        case ENOENT:
            return "the file or folder does not exist";
        case EXDEV:
            return "a folder cannot be moved to another file system";
        case ENOSPC:
            return "the disk is full";
        case EACCES:
        case EPERM:
            return "permission denied";
        default:
            return std::strerror(error);
    }
}

}  // namespace platform
