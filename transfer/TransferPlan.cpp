#include "transfer/TransferPlan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "transfer/CaptureDateReader.h"
#include "transfer/DatedFolders.h"

namespace transfer {
namespace {

// The entry's own creation time (a link's, not its target's): its birth time, or its last write where the
// file system keeps no birth time; 0 when it can't be read.
time_t CreationTimeOf(const std::string& path) {
    const auto info = platform::InfoOfPath(path, /*followLinks=*/false);
    return info ? info->CreationTime().tv_sec : 0;
}

// The kind of a file the pass leaves behind, as the user knows it: the extension from the last ".".
std::string KindOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string()
                                    : platform::AsciiLowered(std::string_view(name).substr(dot));
}

void AddNotice(TransferPlan& plan, const std::string& sentence) {
    plan.notice += (plan.notice.empty() ? "" : " ") + sentence;
}

// A taken file: its path below the camera folder, and its SelectionExtension.
struct TakenFile {
    std::string path;
    std::string extension;
};

// What the walk of the camera folder gathers.
struct Walk {
    std::span<const std::string_view> extensions;
    // The move pass hands a folder named like a picture (holiday.jpg) on like a file; the archive pass never
    // takes a folder.
    bool takesFolders;
    bool recursive;
    platform::Result<platform::FileInfo> destination;  // never walked, should it lie inside the camera folder
    std::vector<TakenFile> taken;
    TransferPlan& plan;
};

void TakeFrom(const std::string& folder, const std::string& prefix,
              std::vector<platform::FolderEntry> listing, Walk& walk);

void Unread(Walk& walk, const std::string& what, int error) {
    walk.plan.unread.push_back(what + " can't be read (" + platform::DescribeError(error) +
                               "), so what it holds stays where it is");
}

void WalkInto(const std::string& folder, const std::string& prefix, Walk& walk) {
    const auto info = platform::InfoOfPath(folder, /*followLinks=*/false);
    if (!info) {
        Unread(walk, "the folder " + folder, info.Error().error);
        return;
    }
    if (walk.destination && info->IsSameFile(*walk.destination)) {
        return;  // what a transfer put there is not taken again
    }
    auto listing = platform::ListFolder(folder);
    if (!listing) {
        Unread(walk, "the folder " + folder, listing.Error().error);
        return;
    }
    TakeFrom(folder, prefix, std::move(*listing), walk);
}

// Takes the entries of `folder` (`prefix` is its path below the camera folder) in name order
// (ComesBeforeInNameOrder), whatever order the file system lists them in: a camera numbers its files, and
// running numbers then follow a shoot on every file system. The files that are not taken are counted into
// plan.leftBehind.
void TakeFrom(const std::string& folder, const std::string& prefix,
              std::vector<platform::FolderEntry> listing, Walk& walk) {
    std::sort(listing.begin(), listing.end(),
              [](const platform::FolderEntry& a, const platform::FolderEntry& b) {
                  return ComesBeforeInNameOrder(a.name, b.name);
              });
    for (const platform::FolderEntry& entry : listing) {
        if (entry.isDots) {
            continue;
        }
        if (!entry.examined) {  // whether it is a folder to walk is not known
            Unread(walk, "the entry " + platform::JoinPath(folder, entry.name), entry.examined.Error().error);
            continue;
        }
        if (entry.isDirectory && walk.recursive) {
            if (entry.name.front() != '.') {  // a card's .Trashes, a viewer's .thumbnails
                WalkInto(platform::JoinPath(folder, entry.name), prefix + entry.name + "/", walk);
            }
            continue;
        }
        if (entry.isDirectory && !walk.takesFolders) {
            continue;
        }
        std::string extension = SelectionExtension(entry.name);
        if (IsAccepted(extension, walk.extensions)) {
            walk.taken.push_back({prefix + entry.name, std::move(extension)});
        } else if (!entry.isDirectory && entry.name.front() != '.') {
            ++walk.plan.leftBehind[KindOf(entry.name)];
        }
    }
}

// The file's name up to its first ".", with its folder: the files that travel together share it.
std::string_view StemOf(const TakenFile& file) {
    const std::string_view path = file.path;
    return path.substr(0, path.size() - file.extension.size());
}

bool IsSidecar(const TakenFile& file) {
    return file.extension.ends_with(kSidecarExtension);
}

// The order within a group: RAW pictures, other files, sidecars.
int RankInGroup(const TakenFile& file) {
    return IsAccepted(file.extension, RawExtensions()) ? 0 : IsSidecar(file) ? 2 : 1;
}

// Puts the taken files, in name order, into the plan in the runs that travel together: a RAW picture or a
// sidecar with the files of its folder that share its stem (they stand next to each other in name order),
// every other file on its own; each group in its travelling order.
void Group(std::vector<TakenFile>& taken, TransferPlan& plan) {
    for (size_t first = 0, end; first < taken.size(); first = end) {
        end = first + 1;
        while (end < taken.size() && StemOf(taken[end]) == StemOf(taken[first])) {
            ++end;
        }
        const auto begin = taken.begin() + static_cast<std::ptrdiff_t>(first);
        const auto stop = taken.begin() + static_cast<std::ptrdiff_t>(end);
        const bool together =
            std::any_of(begin, stop, [](const TakenFile& f) { return RankInGroup(f) != 1; });
        if (together) {
            std::stable_sort(begin, stop, [](const TakenFile& a, const TakenFile& b) {
                return RankInGroup(a) < RankInGroup(b);
            });
        }
        for (size_t i = first; i < end; ++i) {
            PlannedFile file;
            file.item.oldName = std::move(taken[i].path);
            file.extension = std::move(taken[i].extension);
            file.lead = together ? first : i;
            plan.files.push_back(std::move(file));
        }
    }
}

// Without the walk of subfolders, a camera folder with nothing to take is most likely a card's DCIM folder:
// the user is told when its subfolders hold files to take, rather than left with "0 of 0". Only the folders
// right below it are looked into, so that a camera folder typed wrong (a home folder) costs no long walk.
void TellOfSubfolders(const PassRequest& request, const Walk& outer,
                      const std::vector<platform::FolderEntry>& listing, TransferPlan& plan) {
    TransferPlan scratch;
    Walk walk{outer.extensions, outer.takesFolders, /*recursive=*/false, platform::Failure{}, {}, scratch};
    for (const platform::FolderEntry& entry : listing) {
        if (entry.isDirectory && !entry.isDots && entry.name.front() != '.') {
            WalkInto(platform::JoinPath(request.fromDir, entry.name), entry.name + "/", walk);
        }
    }
    if (!walk.taken.empty()) {
        AddNotice(plan,
                  "The camera folder itself holds no file to take, but its subfolders hold " +
                      std::to_string(walk.taken.size()) +
                      ": to take them too, set recurse=1 in the settings file (tovaro-cli: --recursive).");
    }
}

// Where Date of Photo takes each group's day from, and the files whose capture date could not be read.
struct DateReading {
    std::optional<CaptureDateReader> reader;  // when the capture dates are read
    std::vector<std::pair<std::string, CaptureStatus>> unread;
};

// The time whose day Date of Photo appends for a group: the first capture date its files record when the
// options ask for that, else the first file's own time. The metadata is read only here: reading it costs
// about as much as a move within one file system. A group that gets no capture date, although one of its
// files could not be read, is noted in `dates.unread`.
time_t DayOf(const std::string& fromDir, const PlannedFile* files, size_t count, DateReading& dates) {
    std::vector<std::pair<std::string, CaptureStatus>> unread;
    for (size_t i = 0; dates.reader && i < count; ++i) {
        const CaptureRead read = dates.reader->Read(platform::JoinPath(fromDir, files[i].item.oldName));
        if (read.status == CaptureStatus::Found) {
            return read.time;
        }
        if (read.status != CaptureStatus::None && read.status != CaptureStatus::Cancelled) {
            unread.emplace_back(files[i].item.oldName, read.status);
        }
    }
    dates.unread.insert(dates.unread.end(), unread.begin(), unread.end());
    return CreationTimeOf(platform::JoinPath(fromDir, files[0].item.oldName));
}

std::string UnreadReason(CaptureStatus status) {
    switch (status) {
        case CaptureStatus::WrongKind:
            return "its contents are not what its extension names";
        case CaptureStatus::Damaged:
            return "it is damaged";
        case CaptureStatus::TimedOut:
            return "it was not read within " + std::to_string(kCaptureTimeLimitSeconds) + " seconds";
        default:
            return "the reader failed on it";
    }
}

// One sentence on the files named by their own day because their capture date could not be read.
void TellOfUnreadDates(const DateReading& dates, TransferPlan& plan) {
    constexpr size_t kNamed = 10;
    if (const platform::Failure& failed =
            dates.reader ? dates.reader->StartError().Error() : platform::Failure();
        failed.error != 0) {
        AddNotice(plan, "Capture dates could not be read (" + failed.path +
                            " can't be started: " + platform::DescribeError(failed.error) +
                            "), so Date of Photo used each file's own day.");
        return;
    }
    if (dates.unread.empty()) {
        return;
    }
    std::string list;
    for (size_t i = 0; i < dates.unread.size() && i < kNamed; ++i) {
        list +=
            (i == 0 ? "" : "; ") + dates.unread[i].first + " (" + UnreadReason(dates.unread[i].second) + ")";
    }
    if (dates.unread.size() > kNamed) {
        list += "; and " + std::to_string(dates.unread.size() - kNamed) + " more";
    }
    AddNotice(plan, "Date of Photo used the file's own day where the capture date could not be read: " +
                        list + ".");
}

// Whether `destination` names a file other than `source` (renaming a file to its own name is no clash).
bool IsTakenByAnotherFile(const std::string& destination, const std::string& source) {
    const auto there = platform::InfoOfPath(destination, /*followLinks=*/false);
    const auto here = platform::InfoOfPath(source, /*followLinks=*/false);
    return there && !(here && here->device == there->device && here->inode == there->inode);
}

std::string NotRegularReason(const platform::FileInfo& info) {
    const char* kind = info.IsDirectory() ? "a folder"
                       : info.IsSymlink() ? "a symbolic link"
                                          : "not a regular file but a pipe, socket or device";
    return std::string("it is ") + kind + ", so it was left alone";
}

// Foresees what becomes of the files of one group, named. `planned` holds the paths that files planned
// before take; `vacated` the paths that files planned before leave by a rename in place (the archive pass;
// a move whose destination is the camera folder), which a later file may then take.
void Foresee(const PassRequest& request, TransferPlan& plan, size_t first, size_t count, bool sameFolder,
             std::map<std::string, std::string>& planned, std::set<std::string>& vacated) {
    const bool archive = plan.kind == PassKind::Archive;
    for (size_t i = first; i < first + count; ++i) {
        TransferItem& item = plan.files[i].item;
        const std::string source = platform::JoinPath(request.fromDir, item.oldName);
        const std::string target = platform::JoinPath(
            archive ? platform::FolderOf(source) : DestinationFolder(request.toDir, item), item.newName);
        const auto info = archive ? platform::InfoOfPath(source, /*followLinks=*/false)
                                  : platform::Result<platform::FileInfo>(platform::FileInfo{});
        const std::string unsafe = UnsafeNameReason(item.newName);
        item.outcome = Outcome::Kept;
        if (i != first && !plan.files[first].item.Done()) {
            item.reason = "it stays together with " + platform::NameOf(plan.files[first].item.oldName);
        } else if (!unsafe.empty()) {
            item.reason = unsafe;
        } else if (!plan.problem.empty() && !archive) {  // the archive pass still renames in place
            item.reason = "the destination folder does not exist";
        } else if (archive && (!info || !info->IsRegular())) {
            item.reason = info ? NotRegularReason(*info) : platform::DescribeError(info.Error().error);
        } else if (const auto taker = planned.find(target); taker != planned.end()) {
            plan.files[i].clashWith = taker->second;
            item.reason = "another file of this transfer, " + taker->second + ", gets that name first";
        } else if (!vacated.contains(target) && IsTakenByAnotherFile(target, source)) {
            const bool same = !archive && HoldTheSameBytes(source, target);
            item.outcome = same ? Outcome::AlreadyThere : Outcome::Kept;
            item.reason = same      ? "already there (identical)"
                          : archive ? "another file in the camera folder already has that name"
                                    : "a file with that name already exists";
        } else {
            item.outcome = Outcome::Done;
            item.reason.clear();
            planned.emplace(target, item.oldName);
            if ((archive || sameFolder) && item.newName != platform::NameOf(item.oldName)) {
                vacated.insert(archive ? source : platform::JoinPath(request.toDir, item.oldName));
            }
        }
    }
}

// The extensions a pass takes: `chosen` (PassOptions), or `defaults` when none were chosen. The views refer
// to `chosen`.
std::vector<std::string_view> ChosenExtensions(const std::vector<std::string>& chosen,
                                               std::span<const std::string_view> defaults) {
    return chosen.empty() ? std::vector<std::string_view>(defaults.begin(), defaults.end())
                          : std::vector<std::string_view>(chosen.begin(), chosen.end());
}

}  // namespace

TransferPlan ListTransfer(const PassRequest& request, PassKind kind) {
    TransferPlan plan;
    plan.kind = kind;
    const PassOptions& options = request.options;
    auto listing = platform::ListFolder(request.fromDir);
    if (!listing) {
        plan.problem = "the camera folder " + request.fromDir +
                       " can't be read: " + platform::DescribeError(listing.Error().error);
        return plan;
    }
    const auto destination = platform::InfoOfPath(request.toDir);
    if (!destination || !destination->IsDirectory()) {
        plan.problem = "the destination folder " + request.toDir + " does not exist";
    }
    const bool move = kind == PassKind::Move;
    const std::vector<std::string_view> extensions =
        move ? ChosenExtensions(options.moveExtensions, MoveExtensions())
             : ChosenExtensions(options.archiveExtensions, ArchiveExtensions());
    Walk walk{extensions, move, options.recursive, destination, {}, plan};
    TakeFrom(request.fromDir, "", *listing, walk);
    if (walk.taken.empty() && !options.recursive) {
        TellOfSubfolders(request, walk, *listing, plan);
    }
    Group(walk.taken, plan);
    return plan;
}

void NameTransfer(const PassRequest& request, TransferPlan& plan) {
    const PassOptions& options = request.options;
    PlainNamingInputs inputs;  // the running number advances here, not in the caller's form
    inputs.text = request.inputs.Text();
    inputs.numberText = request.inputs.NumberText();
    inputs.renameFind = request.inputs.RenameFind();
    inputs.renameNew = request.inputs.RenameNew();
    inputs.numberChecked = request.inputs.IsNumberChecked();
    plan.startNumber = inputs.numberText;
    const auto toFolder = platform::InfoOfPath(request.toDir);
    const auto fromFolder = platform::InfoOfPath(request.fromDir);
    const bool sameFolder = toFolder && fromFolder && toFolder->IsSameFile(*fromFolder);
    std::map<std::string, std::string> planned;  // target path -> the old name of the file taking it
    std::set<std::string> vacated;
    // Dated folders take the day of each group as Date of Photo would; the archive has none.
    const bool dated = plan.kind == PassKind::Move && !options.folders.empty();
    const bool needsDay = request.option == kNameDate || dated;
    DateReading dates;
    if (needsDay && options.dateSource == DateSource::Capture) {
        dates.reader.emplace(options.cancel);
    }
    int32_t number = 0;
    plan.named = plan.files.empty();
    for (size_t first = 0, count; first < plan.files.size(); first += count) {
        count = 1;
        while (first + count < plan.files.size() && plan.files[first + count].lead == first) {
            ++count;
        }
        const time_t created = needsDay ? DayOf(request.fromDir, &plan.files[first], count, dates) : 0;
        const std::string folder = dated ? ExpandFolderPattern(options.folders, created) : "";
        if (options.cancel != nullptr && options.cancel->load()) {  // also while the date was read
            break;
        }
        const std::string oldName = platform::NameOf(plan.files[first].item.oldName);
        const std::string title =
            ComposeNewName(oldName.substr(0, oldName.size() - plan.files[first].extension.size()), "",
                           request.option, created, inputs, number);
        for (size_t i = first; i < first + count; ++i) {
            plan.files[i].item.newName = title + plan.files[i].extension;
            plan.files[i].item.folder = folder;
            plan.files[i].numberAfter = number;
        }
        Foresee(request, plan, first, count, sameFolder, planned, vacated);
        plan.named = first + count == plan.files.size();
    }
    TellOfUnreadDates(dates, plan);
}

TransferPlan PlanTransfer(const PassRequest& request, PassKind kind) {
    TransferPlan plan = ListTransfer(request, kind);
    NameTransfer(request, plan);
    return plan;
}

std::string DestinationFolder(const std::string& toDir, const TransferItem& item) {
    return item.folder.empty() ? toDir : platform::JoinPath(toDir, item.folder);
}

bool HoldTheSameBytes(const std::string& a, const std::string& b) {
    auto first = platform::File::OpenRegularForReading(a);
    auto second = platform::File::OpenRegularForReading(b);
    const auto firstInfo = first ? first->Info() : first.Error();
    const auto secondInfo = second ? second->Info() : second.Error();
    if (!firstInfo || !secondInfo || firstInfo->size != secondInfo->size) {
        return false;
    }
    std::vector<char> x(1 << 20), y(1 << 20);
    for (;;) {
        const auto n = first->Read(x.data(), x.size());
        if (!n || *n == 0) {
            return n && second->Read(y.data(), 1).value_or(1) == 0;
        }
        // The second may hand back less at once; read until as much has come.
        size_t got = 0;
        for (platform::Result<size_t> m = 1; got < *n && m && *m > 0; got += m ? *m : 0) {
            m = second->Read(y.data() + got, *n - got);
        }
        if (got != *n || std::memcmp(x.data(), y.data(), *n) != 0) {
            return false;
        }
    }
}

}  // namespace transfer
