#include "transfer/CounterKeeper.h"

#include <fcntl.h>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/Path.h"
#include "platform/Sys.h"
#include "transfer/NamingRules.h"

namespace transfer {
namespace {

constexpr const char* kCounterKey = "counter";

// The unit a disk writes whole. Disks with larger sectors write 512-byte runs within them whole as well.
constexpr uint64_t kSectorSize = 512;

bool CrossesSector(uint64_t offset, size_t length) {
    return length > 0 && offset / kSectorSize != (offset + length - 1) / kSectorSize;
}

}  // namespace

platform::Result<platform::File> LockCounter(const SettingsFile& settings, std::chrono::milliseconds patience,
                                             const std::atomic<bool>* cancel,
                                             const std::function<void()>& onWait) {
    // The lock is not on the settings file itself: the file is replaced by renames, and a lock on one version
    // of it would not stop a pass that opened the next. Where the lock file can't be made, the settings file
    // can't be replaced either, and the lock on it holds.
    const std::string path = platform::LinkTarget(settings.Path());
    if (path.empty() || !settings.MakeFolder()) {
        return platform::File();  // no settings file, nor one to come: no counter to share
    }
    const std::string lock =
        platform::JoinPath(platform::FolderOf(path), "." + platform::NameOf(path) + ".lock");
    auto claim = platform::File::Open(lock, O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
    if (!claim) {
        claim = platform::File::OpenForReadWrite(path);
    }
    if (!claim) {
        return platform::File();  // the counter can't be written either: there is nothing to keep apart
    }
    const auto start = std::chrono::steady_clock::now();
    for (bool told = false;; told = true) {
        const platform::Status locked = claim->TryLockExclusive();
        if (locked) {
            return claim;
        }
        if (locked.Error().error != EAGAIN) {
            return platform::Failure{locked.Error().error, locked.Error().call, lock};
        }
        if (!told && onWait) {
            onWait();
        }
        if (cancel != nullptr && cancel->load()) {
            return platform::Failure{ECANCELED, "fcntl"};
        }
        if (std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start) >=
            patience) {
            return platform::Failure{EAGAIN, "fcntl", lock};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

CounterKeeper::CounterKeeper(const SettingsFile& settings) : m_settings(settings) {}

platform::Status CounterKeeper::Claim(NamingInputs& inputs, bool fromSavedCounter,
                                      const std::atomic<bool>* cancel, const std::function<void()>& onWait) {
    platform::Result<platform::File> lock =
        LockCounter(m_settings, std::chrono::milliseconds::max(), cancel, onWait);
    if (!lock) {
        return lock.Error();
    }
    m_claim = std::move(*lock);
    if (fromSavedCounter) {
        inputs.SetNumberText(m_settings.Read(kCounterKey));
    }
    return {};
}

std::string CounterKeeper::WhyCannotKeep(size_t longest) const {
    if (longest == 0 || m_settings.CanStore(kCounterKey, longest)) {
        return {};
    }
    return "the running number could not be kept in " + m_settings.Path() +
           ": its folder may not be written, and the file is too long for the longer numbers to be written "
           "into it safely";
}

platform::Status CounterKeeper::Keep(const NamingInputs& inputs, int32_t passNumber) {
    if (!inputs.IsNumberChecked()) {
        return {};
    }
    m_kept = FormatDialogInt(passNumber);
    return WriteInPlace(m_kept) ? platform::Status() : Replace(m_kept);
}

platform::Status CounterKeeper::Finish(const NamingInputs& /*inputs*/) {
    // Only what was kept matters here, whatever the check state is now.
    if (m_kept.empty()) {
        return {};
    }
    // The file we hold came from a replacement during this pass (the first write of a pass is one), so its
    // name in the folder must reach the disk as well as its contents.
    platform::Status safe = m_file.IsOpen() ? m_file.Sync() : platform::Failure{EBADF, "fsync"};
    safe = safe ? SyncFolder() : safe;
    if (!safe || !IsStillInPlace() || m_onDisk != m_kept) {
        // Our last write did not stick, or the file we hold is no longer the settings file: write the value
        // whole into whatever stands under the name now, and wait for that.
        safe = m_settings.Write(kCounterKey, m_kept);
        safe = safe ? platform::SyncPath(m_settings.Path()) : safe;
        safe = safe ? SyncFolder() : safe;
    }
    (void)m_file.Close();
    (void)m_claim.Close();
    return safe;
}

// One pwrite of the new digits over the old ones, when that is safe; false when it was not tried or failed.
bool CounterKeeper::WriteInPlace(const std::string& text) {
    if (!m_file.IsOpen() || text.size() != m_onDisk.size() || CrossesSector(m_offset, text.size()) ||
        !IsStillInPlace()) {
        return false;
    }
    if (!m_file.WriteAt(m_offset, text.data(), text.size())) {
        return false;  // the replacement that follows puts right whatever part of it landed
    }
    m_onDisk = text;
    return true;
}

// Whether the file we hold is still the one under the settings path, with our digits where we left them.
// Another copy of the program replaces the file (we would write to a file no one reads any more); a text
// editor may rewrite it in place (our offset would then point into some other line).
bool CounterKeeper::IsStillInPlace() {
    const auto info = platform::InfoOfPath(m_path);
    if (!info || info->device != m_device || info->inode != m_inode || info->size != m_size) {
        return false;
    }
    std::string there(m_onDisk.size(), '\0');
    return m_file.ReadAt(m_offset, there.data(), there.size()) && there == m_onDisk;
}

// The whole file replaced atomically, then the value found again for the writes in place that follow. The
// replacement waits for its data, so that the name never points at a file whose contents are not yet on the
// disk (after a power failure that could be an empty file); the rename itself reaches the disk with the
// folder at the end of the pass.
platform::Status CounterKeeper::Replace(const std::string& text) {
    (void)m_file.Close();
    const platform::Status written = m_settings.Write(kCounterKey, text);
    if (written) {
        Locate();
    }
    return written;
}

// Opens the settings file and finds the value in it. Left closed when that fails: the next write then
// replaces the file again.
void CounterKeeper::Locate() {
    m_path = m_settings.Path();
    auto file = platform::File::OpenForReadWrite(m_path);
    if (!file) {
        return;
    }
    const auto info = file->Info();
    const auto contents = platform::ReadToEnd(*file);
    if (!info || !contents || info->IsWriteProtected()) {
        return;  // a read-only settings file is not written, not even in place
    }
    const auto span = SettingsFile::LocateValue(*contents, kCounterKey);
    if (!span) {
        return;
    }
    m_file = std::move(*file);
    m_device = info->device;
    m_inode = info->inode;
    m_size = contents->size();
    m_offset = span->offset;
    m_onDisk = contents->substr(span->offset, span->length);
}

platform::Status CounterKeeper::SyncFolder() const {
    return platform::SyncPath(platform::FolderOf(platform::LinkTarget(m_settings.Path())));
}

}  // namespace transfer
