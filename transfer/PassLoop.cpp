#include "transfer/PassLoop.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "settings/SettingsFile.h"
#include "transfer/CaptureDateReader.h"
#include "transfer/CounterKeeper.h"

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

std::string CounterError(const SettingsFile& settings) {
    const std::string path = settings.Path();
    return path.empty() ? "there is no settings file to keep the running number in"
                        : "the running number could not be saved in " + path;
}

void AddNotice(TransferReport& report, const std::string& sentence) {
    report.notice += (report.notice.empty() ? "" : " ") + sentence;
}

// A taken file: its path below the camera folder, and its SelectionExtension.
struct TakenFile {
    std::string path;
    std::string extension;
};

// What the walk of the camera folder gathers.
struct Walk {
    const Selection& selection;
    bool recursive;
    std::optional<platform::FileInfo> destination;  // never walked, should it lie inside the camera folder
    std::vector<TakenFile> taken;
    TransferReport& report;
};

void TakeFrom(const std::string& folder, const std::string& prefix,
              std::vector<platform::FolderEntry> listing, Walk& walk);

void WalkInto(const std::string& folder, const std::string& prefix, Walk& walk) {
    const auto info = platform::InfoOfPath(folder, /*followLinks=*/false);
    if (walk.destination && info && info->IsSameFile(*walk.destination)) {
        return;  // what a transfer put there is not taken again
    }
    auto listing = platform::ListFolder(folder);
    if (!listing) {
        AddNotice(walk.report, "The folder " + folder + " can't be read (" + platform::DescribeError(errno) +
                                   "), so the files in it stay where they are.");
        return;
    }
    TakeFrom(folder, prefix, std::move(*listing), walk);
}

// Takes the entries of `folder` (`prefix` is its path below the camera folder) in name order (byte order),
// whatever order the file system lists them in: a camera numbers its files, and running numbers then follow
// a shoot on every file system. The files that are not taken are counted into report.leftBehind.
void TakeFrom(const std::string& folder, const std::string& prefix,
              std::vector<platform::FolderEntry> listing, Walk& walk) {
    std::sort(listing.begin(), listing.end(),
              [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
    for (const platform::FolderEntry& entry : listing) {
        if (entry.isDots) {
            continue;
        }
        if (entry.isDirectory && walk.recursive) {
            if (entry.name.front() != '.') {  // a card's .Trashes, a viewer's .thumbnails
                WalkInto(platform::JoinPath(folder, entry.name), prefix + entry.name + "/", walk);
            }
            continue;
        }
        if (entry.isDirectory && !walk.selection.takesFolders) {
            continue;
        }
        std::string extension = SelectionExtension(entry.name);
        if (IsAccepted(extension, walk.selection.extensions)) {
            walk.taken.push_back({prefix + entry.name, std::move(extension)});
        } else if (!entry.isDirectory && entry.name.front() != '.') {
            ++walk.report.leftBehind[KindOf(entry.name)];
        }
    }
}

// The file's name up to its first ".", with its folder: the files that travel together share it.
std::string_view StemOf(const TakenFile& file) {
    const std::string_view path = file.path;
    return path.substr(0, path.size() - file.extension.size());
}

// The name up to its first ".": for every name the built-in lists take, the part before its only ".".
std::string TitleOf(const TakenFile& file) {
    const std::string name = platform::NameOf(file.path);
    return name.substr(0, name.size() - file.extension.size());
}

bool IsSidecar(const TakenFile& file) {
    return file.extension.ends_with(kSidecarExtension);
}

// The order within a group: RAW pictures, other files, sidecars.
int RankInGroup(const TakenFile& file) {
    return IsAccepted(file.extension, RawExtensions()) ? 0 : IsSidecar(file) ? 2 : 1;
}

// Splits the taken files, in name order, into the runs that travel together: a RAW picture or a sidecar
// with the files of its folder that share its stem (they stand next to each other in name order), every
// other file on its own. Reorders each group into its travelling order; gives the length of each run.
std::vector<size_t> Groups(std::vector<TakenFile>& taken) {
    std::vector<size_t> lengths;
    for (size_t first = 0, end; first < taken.size(); first = end) {
        end = first + 1;
        while (end < taken.size() && StemOf(taken[end]) == StemOf(taken[first])) {
            ++end;
        }
        const auto begin = taken.begin() + static_cast<std::ptrdiff_t>(first);
        const auto stop = taken.begin() + static_cast<std::ptrdiff_t>(end);
        if (std::any_of(begin, stop, [](const TakenFile& f) { return RankInGroup(f) != 1; })) {
            std::stable_sort(begin, stop, [](const TakenFile& a, const TakenFile& b) {
                return RankInGroup(a) < RankInGroup(b);
            });
            lengths.push_back(end - first);
        } else {
            lengths.insert(lengths.end(), end - first, 1);
        }
    }
    return lengths;
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
time_t DayOf(const std::string& fromDir, const TakenFile* files, size_t count, DateReading& dates) {
    std::vector<std::pair<std::string, CaptureStatus>> unread;
    for (size_t i = 0; dates.reader && i < count; ++i) {
        const CaptureRead read = dates.reader->Read(platform::JoinPath(fromDir, files[i].path));
        if (read.status == CaptureStatus::Found) {
            return read.time;
        }
        if (read.status != CaptureStatus::None && read.status != CaptureStatus::Cancelled) {
            unread.emplace_back(files[i].path, read.status);
        }
    }
    dates.unread.insert(dates.unread.end(), unread.begin(), unread.end());
    return CreationTimeOf(platform::JoinPath(fromDir, files[0].path));
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
void TellOfUnreadDates(const DateReading& dates, TransferReport& report) {
    constexpr size_t kNamed = 10;
    if (dates.reader && !dates.reader->StartError().empty()) {
        AddNotice(report, "Capture dates could not be read (" + dates.reader->StartError() +
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
    AddNotice(report, "Date of Photo used the file's own day where the capture date could not be read: " +
                          list + ".");
}

// Without the walk of subfolders, a camera folder with nothing to take is most likely a card's DCIM folder:
// the user is told when its subfolders hold files to take, rather than left with "0 of 0". Only the folders
// right below it are looked into, so that a camera folder typed wrong (a home folder) costs no long walk.
void TellOfSubfolders(const PassRequest& request, const Selection& selection,
                      const std::vector<platform::FolderEntry>& listing, TransferReport& report) {
    TransferReport scratch;
    Walk walk{selection, /*recursive=*/false, std::nullopt, {}, scratch};
    for (const platform::FolderEntry& entry : listing) {
        if (entry.isDirectory && !entry.isDots && entry.name.front() != '.') {
            WalkInto(platform::JoinPath(request.fromDir, entry.name), entry.name + "/", walk);
        }
    }
    if (!walk.taken.empty()) {
        AddNotice(report,
                  "The camera folder itself holds no file to take, but its subfolders hold " +
                      std::to_string(walk.taken.size()) +
                      ": to take them too, set recurse=1 in the settings file (tovaro-cli: --recursive).");
    }
}

}  // namespace

void RunPassLoop(const PassRequest& request, const Selection& selection, const FileStep& step,
                 TransferReport& report, const std::function<void()>& afterEachFile) {
    const PassOptions& options = request.options;
    auto listing = platform::ListFolder(request.fromDir);
    if (!listing) {
        report.problem =
            "the camera folder " + request.fromDir + " can't be read: " + platform::DescribeError(errno);
        return;
    }
    const auto destination = platform::InfoOfPath(request.toDir);
    if (!destination || !destination->IsDirectory()) {
        report.problem = "the destination folder " + request.toDir + " does not exist";
    }
    Walk walk{selection, options.recursive, destination, {}, report};
    TakeFrom(request.fromDir, "", *listing, walk);
    std::vector<TakenFile>& taken = walk.taken;
    if (taken.empty() && !options.recursive) {
        TellOfSubfolders(request, selection, *listing, report);
    }
    const std::vector<size_t> groups = Groups(taken);

    int32_t number = 0;
    CounterKeeper counter(request.settings);
    if (!options.dryRun && request.inputs.IsNumberChecked() && !taken.empty() &&
        !counter.Claim(request.inputs, options.numberFromSavedCounter, options.cancel)) {
        report.cancelled = true;
        return;
    }
    if (!options.dryRun) {
        platform::RemoveStaleTemporaries(request.toDir);  // left by a run that was killed
    }
    DateReading dates;
    if (request.option == kNameDate && options.dateSource == DateSource::Capture) {
        dates.reader.emplace(options.cancel);
    }
    size_t first = 0;
    for (size_t group = 0; group < groups.size(); first += groups[group++]) {
        if (options.cancel != nullptr && options.cancel->load()) {
            report.cancelled = true;
            break;
        }
        const size_t count = groups[group];
        const time_t created =
            request.option == kNameDate ? DayOf(request.fromDir, &taken[first], count, dates) : 0;
        if (options.cancel != nullptr && options.cancel->load()) {  // asked to stop while the date was read
            report.cancelled = true;
            break;
        }
        const std::string newTitle =
            ComposeNewName(TitleOf(taken[first]), "", request.option, created, request.inputs, number);
        bool leadWent = false;
        for (size_t i = first; i < first + count; ++i) {
            TransferItem item;
            item.oldName = taken[i].path;
            item.newName = newTitle + taken[i].extension;
            item.reason = UnsafeNameReason(item.newName);
            bool went = false;
            if (i != first && !leadWent) {
                item.reason = "it stays together with " + platform::NameOf(taken[first].path);
            } else if (item.reason.empty()) {
                went = step(platform::JoinPath(request.fromDir, taken[i].path), item);
            }
            leadWent = i == first ? went : leadWent;
            if (!options.dryRun && !counter.Keep(request.inputs, number) && report.counterError.empty()) {
                report.counterError = CounterError(request.settings);
            }
            report.items.push_back(std::move(item));
            if (options.onProgress) {
                options.onProgress(report.items.size(), taken.size());
            }
            if (afterEachFile) {
                afterEachFile();
            }
        }
    }
    TellOfUnreadDates(dates, report);
    if (!options.dryRun && !counter.Finish(request.inputs) && report.counterError.empty()) {
        report.counterError = CounterError(request.settings);
    }
}

std::vector<std::string_view> ChosenExtensions(const std::vector<std::string>& chosen,
                                               std::span<const std::string_view> defaults) {
    return chosen.empty() ? std::vector<std::string_view>(defaults.begin(), defaults.end())
                          : std::vector<std::string_view>(chosen.begin(), chosen.end());
}

bool IsTakenByAnotherFile(const std::string& destination, const std::string& source) {
    const auto there = platform::InfoOfPath(destination, /*followLinks=*/false);
    const auto here = platform::InfoOfPath(source, /*followLinks=*/false);
    return there && !(here && here->device == there->device && here->inode == there->inode);
}

}  // namespace transfer
