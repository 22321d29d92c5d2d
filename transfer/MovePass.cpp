#include "transfer/MovePass.h"

#include <cerrno>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "settings/SettingsFile.h"
#include "transfer/CounterKeeper.h"
#include "transfer/PassSteps.h"

namespace transfer {
namespace {

std::string WhyNotMoved(int error, const std::string& toDir) {
    if (error == ENOENT && !platform::InfoOfPath(toDir)) {
        return "the destination folder does not exist";
    }
    return platform::DescribeError(error);
}

// Moves one taken entry (or, in a dry run, tells what would stop it) and fills in the outcome.
void Move(const std::string& source, const std::string& toDir, bool dryRun, TransferItem& item) {
    item.reason = UnsafeNameReason(item.newName);
    if (!item.reason.empty()) {
        return;
    }
    const std::string destination = platform::JoinPath(toDir, item.newName);
    int error = 0;
    if (!dryRun) {
        error = platform::MoveNoReplace(source, destination);
    } else if (IsTakenByAnotherFile(destination, source)) {
        error = EEXIST;
    }
    item.outcome = error == 0 ? Outcome::Done : Outcome::Kept;
    if (!item.Done()) {
        item.reason = WhyNotMoved(error, toDir);
    }
}

}  // namespace

TransferReport MovePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                        NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options) {
    const std::string toFolder = toDir;
    int32_t number = 0;
    CounterKeeper counter(settings);
    TransferReport report;
    // No test for "." and ".." or for folders: the dots never pass the extension test, and a folder whose
    // name does (holiday.jpg) is moved like a file, contents and all.
    for (const platform::FolderEntry& entry : platform::ListFolder(fromDir)) {
        const std::string extension = SelectionExtension(entry.name);
        if (!IsAccepted(extension, MoveExtensions())) {
            continue;
        }
        const std::string source = platform::JoinPath(fromDir, entry.name);
        const time_t created = option == kNameDate ? CreationTimeOf(source) : 0;
        TransferItem item;
        item.oldName = entry.name;
        item.newName = ComposeNewName(FileTitle(entry.name), extension, option, created, inputs, number);
        Move(source, toFolder, options.dryRun, item);
        // The number is used up whether or not the move worked, so a failed file never hands its number
        // to the next one.
        if (!options.dryRun && !counter.Keep(inputs, number) && report.counterError.empty()) {
            report.counterError = CounterError(settings);
        }
        report.items.push_back(std::move(item));
        if (options.onItem) {
            options.onItem(report.items.back());
        }
    }
    if (!options.dryRun && !counter.Finish(inputs) && report.counterError.empty()) {
        report.counterError = CounterError(settings);
    }
    return report;
}

}  // namespace transfer
