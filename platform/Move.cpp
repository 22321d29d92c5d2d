#include "platform/Move.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Remove.h"
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
Status MoveWithoutFlag(const std::string& from, const std::string& to) {
    const auto info = InfoOfPath(from, false);
    if (!info) {
        return Failure::Now("statx");
    }
    if (!info->IsDirectory()) {
        if (Sys().link(from.c_str(), to.c_str()) == 0) {
            if (Sys().unlink(from.c_str()) != 0) {
                const Failure failure = Failure::Now("unlink");
                Sys().unlink(to.c_str());
                return failure;
            }
            return {};
        }
        const int e = errno;
        if (e == EEXIST || e == EXDEV || e == ENOENT) {
            return Failure{e, "link"};
        }
    }
    if (InfoOfPath(to, false)) {
        return Failure{EEXIST, "statx"};
    }
    return Status::Check(Sys().rename(from.c_str(), to.c_str()) == 0, "rename");
}

// Renames within one file system, never replacing; the last step of every move.
Status RenameNoReplace(const std::string& from, const std::string& to) {
    if (Sys().renameat2(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    const int e = errno;
    if (e == EINVAL || e == ENOSYS || e == ENOTSUP) {
        return MoveWithoutFlag(from, to);
    }
    return Failure{e, "renameat2"};
}

int RemoveQuietly(const std::string& path) {
    const int saved = errno;
    Sys().unlink(path.c_str());
    errno = saved;
    return saved;
}

MoveResult FailedNow(const char* call, std::string path = {}) {
    return MoveResult::Failed(Failure::Now(call, std::move(path)));
}

Status CopyLink(const std::string& from, const std::string& to) {
    std::vector<char> target(4096);
    const ssize_t n = ::readlink(from.c_str(), target.data(), target.size() - 1);
    if (n < 0) {
        return Failure::Now("readlink");
    }
    target[static_cast<size_t>(n)] = '\0';
    // symlink() cannot replace, so it is its own no-replace step.
    return Status::Check(::symlink(target.data(), to.c_str()) == 0, "symlink");
}

std::string NotCopied(const FileInfo& info) {
    if (info.IsDirectory()) {
        return "a folder cannot be moved to another file system";
    }
    return "it is not a file but a pipe, socket or device, which can't be copied to another file system";
}

StartedMove StartAcrossFileSystems(const std::string& from, const std::string& to,
                                   const std::atomic<bool>* cancel) {
    const auto info = InfoOfPath(from, false);
    if (!info) {
        return {FailedNow("statx"), std::nullopt};
    }
    if (info->IsSymlink()) {
        if (const Status copied = CopyLink(from, to); !copied) {
            return {MoveResult::Failed(copied.Error()), std::nullopt};
        }
        // The new link reaches the disk before the old one goes.
        if (const Status synced = SyncPath(FolderOf(to)); !synced) {
            const Failure& failure = synced.Error();
            return {{MoveOutcome::CopyOnly, failure,
                     "the destination folder could not be flushed to the disk (" + failure.Describe() + ")"},
                    std::nullopt};
        }
        if (Sys().unlink(from.c_str()) != 0) {
            const Failure failure = Failure::Now("unlink");  // the new link stays beside the old one: say so
            return {{MoveOutcome::CopyOnly, failure, "it could not be removed: " + failure.Describe()},
                    std::nullopt};
        }
        return {MoveResult{}, std::nullopt};
    }
    if (!info->IsRegular()) {
        return {MoveResult::Failed(Failure{EXDEV, "rename"}, NotCopied(*info)), std::nullopt};
    }
    StartedMove started;
    started.copy = CrossCopy::Start(from, to, cancel, &started.result);
    return started;
}

}  // namespace

StartedMove StartMove(const std::string& from, const std::string& to, const std::atomic<bool>* cancel) {
    Status renamed = RenameNoReplace(from, to);
    const int e = renamed.Error().error;
    if (e == EEXIST && from == to && InfoOfPath(from, false)) {
        renamed = {};  // onto itself: nothing to do
    } else if (e == EEXIST && EqualIgnoringAsciiCase(NameOf(from), NameOf(to)) &&
               IsSameUnlinkedFile(from, to)) {
        // Only the letter case changes, on a case-insensitive file system.
        renamed = Status::Check(Sys().rename(from.c_str(), to.c_str()) == 0, "rename");
    } else if (e == EXDEV) {
        return StartAcrossFileSystems(from, to, cancel);
    }
    return {renamed ? MoveResult{} : MoveResult::Failed(renamed.Error()), std::nullopt};
}

MoveResult MoveNoReplace(const std::string& from, const std::string& to, const std::atomic<bool>* cancel) {
    StartedMove started = StartMove(from, to, cancel);
    if (!started.copy) {
        return started.result;
    }
    CrossCopyBatch batch;
    batch.Add(std::move(*started.copy));
    return batch.Complete().front();
}

void CrossCopyBatch::Add(CrossCopy copy) {
    m_bytes += copy.Bytes();
    m_copies.push_back(std::move(copy));
}

std::vector<MoveResult> CrossCopyBatch::Complete() {
    std::vector<MoveResult> results(m_copies.size());
    std::vector<bool> placed(m_copies.size(), false);
    // One flush per file system for all the copies in it. syncfs reports a write-back error of the file
    // system that happened since the descriptor it is given was opened (Linux 5.8 and later), so it is given
    // the batch's first copy there; after an error each copy is flushed on its own, which tells the copies
    // that failed from those that did not.
    std::vector<std::optional<dev_t>> devices(m_copies.size());
    std::map<dev_t, bool> fileSystemFlushed;
    for (size_t i = 0; i < m_copies.size() && m_copies.size() > 1; ++i) {
        if (const auto info = m_copies[i].Copy().Info()) {
            devices[i] = info->device;
            if (!fileSystemFlushed.count(info->device)) {
                fileSystemFlushed[info->device] = Sys().syncfs(m_copies[i].Copy().Descriptor()) == 0;
            }
        }
    }
    for (size_t i = 0; i < m_copies.size(); ++i) {
        const bool flushed = devices[i] && fileSystemFlushed[*devices[i]];
        placed[i] = m_copies[i].Flush(&results[i], flushed) && m_copies[i].PutInPlace(&results[i]);
    }
    // One flush per destination folder makes every name in it durable at once.
    std::map<std::string, Status> folderErrors;
    for (size_t i = 0; i < m_copies.size(); ++i) {
        const std::string folder = FolderOf(m_copies[i].Destination());
        if (placed[i] && !folderErrors.count(folder)) {
            folderErrors.emplace(folder, SyncPath(folder));
        }
    }
    for (size_t i = 0; i < m_copies.size(); ++i) {
        if (placed[i]) {
            results[i] = m_copies[i].Finish(folderErrors.at(FolderOf(m_copies[i].Destination())));
        }
    }
    m_copies.clear();
    m_bytes = 0;
    return results;
}

MoveResult MoveResult::Failed(Failure cause, std::string reason) {
    std::string words = reason.empty() ? cause.Describe() : std::move(reason);
    return MoveResult{MoveOutcome::NotMoved, std::move(cause), std::move(words)};
}

std::optional<CrossCopy> CrossCopy::Start(const std::string& from, const std::string& to,
                                          const std::atomic<bool>* cancel, MoveResult* failure) {
    Result<File> source = File::OpenRegularForReading(from);
    const Result<FileInfo> info = source ? source->Info() : source.Error();
    if (!info) {
        *failure = MoveResult::Failed(info.Error().WithPath({}));
        return std::nullopt;
    }
    std::string tempPath;
    Result<File> temp = CreateCopyBeside(to, &tempPath, 0600);
    if (!temp) {
        *failure = MoveResult::Failed(temp.Error().WithPath(FolderOf(to)));
        return std::nullopt;
    }
    // From here on the copy removes its temporary file (if it has a name) itself whenever it goes.
    CrossCopy copy(from, to, tempPath, std::move(*temp), *info);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        if (cancel != nullptr && cancel->load()) {
            *failure = MoveResult::Failed(Failure{ECANCELED, "read"});
            return std::nullopt;
        }
        const Result<size_t> n = source->Read(buffer.data(), buffer.size());
        const Status written = n ? copy.m_file.WriteAll(buffer.data(), *n) : n.Error();
        if (!written) {
            *failure = MoveResult::Failed(n ? written.Error().WithPath(to) : n.Error());
            return std::nullopt;
        }
        if (*n == 0) {
            break;
        }
    }
    const timespec times[2] = {info->accessed, info->modified};
    if (::fchmod(copy.m_file.Descriptor(), info->mode & 07777) != 0 ||
        ::futimens(copy.m_file.Descriptor(), times) != 0) {
        *failure = FailedNow("futimens", to);
        return std::nullopt;
    }
    // The data starts on its way to the disk now, so that the flush that follows (perhaps after many more
    // copies) finds little left to wait for. Only advice: a failure here changes nothing.
    ::sync_file_range(copy.m_file.Descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return copy;
}

CrossCopy::CrossCopy(std::string from, std::string to, std::string temp, File file, FileInfo source)
    : m_from(std::move(from)),
      m_to(std::move(to)),
      m_temp(std::move(temp)),
      m_file(std::move(file)),
      m_source(source) {}

CrossCopy::CrossCopy(CrossCopy&& other) noexcept
    : m_from(std::move(other.m_from)),
      m_to(std::move(other.m_to)),
      m_temp(std::move(other.m_temp)),
      m_file(std::move(other.m_file)),
      m_source(other.m_source),
      m_placed(other.m_placed),
      m_done(std::exchange(other.m_done, true)) {}

CrossCopy& CrossCopy::operator=(CrossCopy&& other) noexcept {
    if (this != &other) {
        Discard();
        m_from = std::move(other.m_from);
        m_to = std::move(other.m_to);
        m_temp = std::move(other.m_temp);
        m_file = std::move(other.m_file);
        m_source = other.m_source;
        m_placed = other.m_placed;
        m_done = std::exchange(other.m_done, true);
    }
    return *this;
}

CrossCopy::~CrossCopy() {
    Discard();
}

// Removes what the copy wrote: the temporary file (an unnamed one goes with its descriptor), or the copy
// under its final name when that is still ours.
void CrossCopy::Discard() {
    if (m_done) {
        return;
    }
    m_done = true;
    if (!m_placed && !m_temp.empty()) {
        RemoveQuietly(m_temp);
    } else if (m_placed) {
        const auto ours = m_file.Info();
        const auto there = InfoOfPath(m_to, false);
        if (ours && there && ours->IsSameFile(*there)) {
            RemoveQuietly(m_to);
        }
    }
    (void)m_file.Close();
}

bool CrossCopy::Flush(MoveResult* failure, bool fileSystemFlushed) {
    if (const Status synced = fileSystemFlushed ? Status() : m_file.Sync(); !synced) {
        *failure = MoveResult::Failed(synced.Error().WithPath(m_to));
        Discard();
        return false;
    }
    return true;
}

bool CrossCopy::PutInPlace(MoveResult* failure) {
    const Status named = m_temp.empty() ? NameUnnamed(m_file, m_to) : RenameNoReplace(m_temp, m_to);
    if (!named) {
        *failure = MoveResult::Failed(named.Error());
        Discard();
        return false;
    }
    m_placed = true;
    return true;
}

MoveResult CrossCopy::Finish(const Status& folderFlushed) {
    MoveResult result;
    if (!folderFlushed) {
        result = {MoveOutcome::CopyOnly, folderFlushed.Error(),
                  "the destination folder could not be flushed to the disk (" +
                      folderFlushed.Error().Describe() + ")"};
        m_done = true;
        (void)m_file.Close();
        return result;
    }
    const Result<Removal> removed = RemoveIfUnchanged(m_from, m_source);
    if (!removed) {
        result = {MoveOutcome::CopyOnly, removed.Error(),
                  "it could not be removed: " + removed.Error().Describe()};
    } else if (*removed == Removal::Changed || *removed == Removal::BeingWritten) {
        // What was copied is not (or not yet) what is there: the original stays, and the stale copy goes.
        Discard();
        return MoveResult::Failed(Failure{EAGAIN, "statx"},
                                  *removed == Removal::Changed
                                      ? "it changed while it was being copied, so it stays"
                                      : "it is still being written");
    } else if (*removed == Removal::Protected) {
        result = {MoveOutcome::CopyOnly, Failure{EPERM, "unlink"}, "it is write-protected"};
    }
    // Removed, or Gone: another program removed the original meanwhile; the copy is all there is, and stays.
    m_done = true;
    (void)m_file.Close();
    return result;
}

}  // namespace platform
