#include "transfer/History.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>

#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "zip/ZipReader.h"

namespace transfer {
namespace {

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

UndoItem Stays(const LogRecord& r, std::string reason) {
    return {r.newPath, r.oldPath, false, std::move(reason)};
}

// Moves the file at the record's new path back to its old one, when it is still the file the transfer moved.
// No value when there is nothing to do: the file never left its old name.
std::optional<UndoItem> MoveBack(const LogRecord& r) {
    const auto now = platform::InfoOfPath(r.newPath, /*followLinks=*/false);
    if (!now) {
        if (platform::InfoOfPath(r.oldPath, /*followLinks=*/false)) {
            return std::nullopt;  // the transfer was stopped before it moved this one
        }
        return Stays(r, "it is no longer there");
    }
    if (now->size != r.size || !SameTime(now->modified, r.modified)) {
        return Stays(r, "it changed since the transfer");
    }
    const platform::MoveResult moved = platform::MoveNoReplace(r.newPath, r.oldPath);
    if (moved.Moved()) {
        return UndoItem{r.newPath, r.oldPath, true, {}};
    }
    if (moved.Error() == EEXIST) {
        return Stays(r, "its old name is taken again");
    }
    return Stays(r, moved.outcome == platform::MoveOutcome::CopyOnly
                        ? "copied back, but it stays here as well: " + moved.reason
                        : moved.reason);
}

// Writes an archived picture back under its old name from the archive, which stays as it is: into a new
// temporary file beside the old name, checked against the member's CRC-32 and the size the log recorded,
// given its time, flushed, and only then linked to the old name, which never replaces anything.
UndoItem Unpack(const LogRecord& r) {
    const std::string& member = r.member;
    UndoItem item{r.archive + ": " + member, r.oldPath, false, {}};
    auto source = zip::FileByteSource::Open(r.archive);
    if (!source) {
        item.reason = "the archive can't be read: " + platform::DescribeError(source.Error().error);
        return item;
    }
    zip::ZipReader reader(*source);
    if (const zip::ReadResult opened = reader.Open(); !opened.Ok()) {
        item.reason = "the archive can't be read: " + opened.reason;
        return item;
    }
    const auto& members = reader.Members();
    const auto found = std::find_if(members.rbegin(), members.rend(),
                                    [&](const zip::MemberInfo& m) { return m.name == member; });
    if (found == members.rend()) {
        item.reason = "the archive no longer holds it";
        return item;
    }
    if (found->uncompressedSize != r.size) {
        item.reason = "the archive holds another file of that name";
        return item;
    }
    std::string temp;
    auto out = platform::CreateCopyBeside(r.oldPath, &temp, 0644);
    if (!out) {
        item.reason = "it could not be written back: " + platform::DescribeError(out.Error().error);
        return item;
    }
    const size_t index = static_cast<size_t>(members.rend() - found) - 1;
    const zip::ReadResult read =
        reader.Verify(index, found->crc32, found->uncompressedSize,
                      [&](const uint8_t* data, size_t size) { return out->WriteAll(data, size); });
    const timespec times[2] = {r.modified, r.modified};
    if (!read.Ok()) {
        item.reason = "its copy in the archive is not whole: " + read.reason;
    } else if (const platform::Status flushed = ::futimens(out->Descriptor(), times) != 0
                                                    ? platform::Failure::Now("futimens")
                                                    : out->Sync();
               !flushed) {
        item.reason = "it could not be written back: " + platform::DescribeError(flushed.Error().error);
    } else if (const platform::Status named =
                   temp.empty() ? platform::NameUnnamed(*out, r.oldPath)
                                : platform::Status::Check(
                                      platform::Sys().link(temp.c_str(), r.oldPath.c_str()) == 0, "link");
               !named) {
        item.reason = named.Error().error == EEXIST
                          ? "its old name is taken again"
                          : "it could not be written back: " + named.Error().Describe();
    } else {
        item.back = true;
        (void)platform::SyncPath(platform::FolderOf(r.oldPath));
    }
    (void)out->Close();
    if (!temp.empty()) {
        platform::Sys().unlink(temp.c_str());
    }
    return item;
}

// An archived picture: renamed in its own folder, then packed and removed. Whatever the transfer got to, the
// picture goes back to its old name: from its new name when it is still there, else from the archive.
std::optional<UndoItem> UndoArchived(const LogRecord& r) {
    if (r.newPath != r.oldPath && platform::InfoOfPath(r.newPath, /*followLinks=*/false)) {
        return MoveBack(r);
    }
    if (r.event != "done" && platform::InfoOfPath(r.oldPath, /*followLinks=*/false)) {
        return std::nullopt;  // still under its old name
    }
    return Unpack(r);
}

// The dated folders (below the destination) that held a file put back and are empty now go too, so that an
// undone transfer leaves no empty folders behind; a folder that holds anything else stays.
void RemoveEmptiedFolders(const std::string& file, const std::string& toDir) {
    for (std::string folder = platform::FolderOf(file);
         folder.starts_with(toDir + "/") && ::rmdir(folder.c_str()) == 0;
         folder = platform::FolderOf(folder)) {
    }
}

LogRecord Marker(const PastTransfer& t, const char* event) {
    LogRecord record;
    record.transfer = t.id;
    record.event = event;
    record.mode = t.archive ? "archive" : "move";
    const time_t now = ::time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    record.time = text;
    return record;
}

}  // namespace

size_t PastTransfer::DoneCount() const {
    return static_cast<size_t>(
        std::count_if(files.begin(), files.end(), [](const LogRecord& r) { return r.event == "done"; }));
}

std::vector<PastTransfer> PastTransfers(const std::vector<LogRecord>& records) {
    std::vector<PastTransfer> transfers;
    std::map<std::string, size_t> byId;
    std::map<std::pair<size_t, std::string>, size_t> fileAt;  // (transfer, old path) -> index in files
    for (const LogRecord& r : records) {
        auto [at, added] = byId.try_emplace(r.transfer, transfers.size());
        if (added) {
            transfers.push_back({r.transfer, r.time, r.mode == "archive", {}, {}, {}, false});
        }
        PastTransfer& t = transfers[at->second];
        if (r.event == "start") {
            t.fromDir = r.oldPath;
            t.toDir = r.newPath;
        } else if (r.event == "undone") {
            t.undone = true;
        } else if (r.event == "plan" || r.event == "done" || r.event == "kept") {
            const auto [file, isNew] = fileAt.try_emplace({at->second, r.oldPath}, t.files.size());
            if (isNew) {
                t.files.push_back(r);
            } else {
                t.files[file->second] = r;
            }
        }
    }
    std::erase_if(transfers, [](const PastTransfer& t) { return t.files.empty(); });
    return transfers;
}

const PastTransfer* LatestUndoable(const std::vector<PastTransfer>& transfers) {
    for (auto t = transfers.rbegin(); t != transfers.rend(); ++t) {
        if (!t->undone) {
            return &*t;
        }
    }
    return nullptr;
}

size_t UndoReport::Back() const {
    return static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const UndoItem& i) { return i.back; }));
}

bool AnyTransferRuns(const std::string& logFolder) {
    auto log = ImportLog::Open(logFolder);
    return log && !log->TryHoldForUndo();  // given up again as the log closes
}

UndoReport UndoLatestTransfer(const std::string& logFolder) {
    UndoReport report;
    auto log = ImportLog::Open(logFolder);
    if (!log) {
        report.problem = LogProblem(log.Error());
        return report;
    }
    if (!log->TryHoldForUndo()) {
        report.problem = "a transfer is running: undo once it has finished";
        return report;
    }
    const auto records = ReadImportLog(log->Path());
    if (!records) {
        report.problem = "the import log " + log->Path() +
                         " can't be read: " + platform::DescribeError(records.Error().error);
        return report;
    }
    const std::vector<PastTransfer> transfers = PastTransfers(*records);
    const PastTransfer* latest = LatestUndoable(transfers);
    if (latest == nullptr) {
        report.problem = "there is no transfer to undo";
        return report;
    }
    report.transfer = latest->id;
    std::vector<LogRecord> written;
    // Last file first, so that names the transfer freed and then took again are handed back in turn.
    for (auto r = latest->files.rbegin(); r != latest->files.rend(); ++r) {
        std::optional<UndoItem> item;
        if (latest->archive) {
            item = UndoArchived(*r);
        } else if (r->event != "kept") {
            item = MoveBack(*r);
            if (item && item->back) {
                RemoveEmptiedFolders(r->newPath, latest->toDir);
            }
        }
        if (item) {
            LogRecord mark = *r;
            mark.event = item->back ? "back" : "stayed";
            mark.time = Marker(*latest, "back").time;
            written.push_back(std::move(mark));
            report.items.push_back(std::move(*item));
        }
    }
    written.push_back(Marker(*latest, "undone"));
    if (const platform::Status appended = log->Append(written, /*flush=*/true); !appended) {
        report.problem = "the files were put back, but the import log " + log->Path() +
                         " could not be written: " + platform::DescribeError(appended.Error().error);
    }
    return report;
}

}  // namespace transfer
