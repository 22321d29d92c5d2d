#include "transfer/PassLoop.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "settings/SettingsFile.h"
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

// The taken entries of the listing; the files that are not taken are counted into report.leftBehind.
std::vector<std::string> Take(const std::vector<platform::FolderEntry>& listing, const Selection& selection,
                              TransferReport& report) {
    std::vector<std::string> taken;
    for (const platform::FolderEntry& entry : listing) {
        if (entry.isDots || (entry.isDirectory && !selection.takesFolders)) {
            continue;
        }
        if (IsAccepted(SelectionExtension(entry.name), selection.extensions)) {
            taken.push_back(entry.name);
        } else if (!entry.isDirectory && entry.name.front() != '.') {
            ++report.leftBehind[KindOf(entry.name)];
        }
    }
    // In name order (byte order), whatever order the file system lists them in: a camera numbers its files,
    // and running numbers then follow a shoot on every file system.
    std::sort(taken.begin(), taken.end());
    return taken;
}

}  // namespace

void RunPassLoop(const PassRequest& request, const Selection& selection, const FileStep& step,
                 TransferReport& report, const std::function<void()>& afterEachFile) {
    const PassOptions& options = request.options;
    const auto listing = platform::ListFolder(request.fromDir);
    if (!listing) {
        report.problem =
            "the camera folder " + request.fromDir + " can't be read: " + platform::DescribeError(errno);
        return;
    }
    const auto destination = platform::InfoOfPath(request.toDir);
    if (!destination || !destination->IsDirectory()) {
        report.problem = "the destination folder " + request.toDir + " does not exist";
    }
    const std::vector<std::string> taken = Take(*listing, selection, report);

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
    for (const std::string& name : taken) {
        if (options.cancel != nullptr && options.cancel->load()) {
            report.cancelled = true;
            break;
        }
        const std::string source = platform::JoinPath(request.fromDir, name);
        const std::string extension = SelectionExtension(name);
        const time_t created = request.option == kNameDate ? CreationTimeOf(source) : 0;
        TransferItem item;
        item.oldName = name;
        item.newName =
            ComposeNewName(FileTitle(name), extension, request.option, created, request.inputs, number);
        item.reason = UnsafeNameReason(item.newName);
        if (item.reason.empty()) {
            step(source, item);
        }
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
    if (!options.dryRun && !counter.Finish(request.inputs) && report.counterError.empty()) {
        report.counterError = CounterError(request.settings);
    }
}

bool IsTakenByAnotherFile(const std::string& destination, const std::string& source) {
    const auto there = platform::InfoOfPath(destination, /*followLinks=*/false);
    const auto here = platform::InfoOfPath(source, /*followLinks=*/false);
    return there && !(here && here->device == there->device && here->inode == there->inode);
}

}  // namespace transfer
