#include "transfer/MovePass.h"

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <vector>

#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "transfer/AlreadyImported.h"
#include "transfer/ImportLog.h"
#include "transfer/PassLoop.h"

namespace transfer {
namespace {

// How many copies to another file system are made durable together, at most. Each holds a descriptor until
// its batch is complete, so a batch also leaves kSpareFiles of what the process may open for everything else.
constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 64 << 20;
constexpr size_t kSpareFiles = 64;

size_t BatchFiles() {
    const size_t left = platform::OpenFilesLeft();
    return left > kSpareFiles + 1 ? std::min(kBatchFiles, left - kSpareFiles) : 1;
}

void Apply(const platform::MoveResult& moved, const std::string& toDir, TransferItem& item) {
    switch (moved.outcome) {
        case platform::MoveOutcome::Moved:
            item.outcome = Outcome::Done;
            break;
        case platform::MoveOutcome::CopyOnly:
            item.outcome = Outcome::CopyKept;
            item.reason = moved.reason;
            break;
        case platform::MoveOutcome::NotMoved:
            item.reason = moved.Error() == ENOENT && !platform::InfoOfPath(toDir)
                              ? "the destination folder does not exist"
                              : moved.reason;
            break;
    }
}

// Makes the dated folder `relative` below `toDir` as needed, level by level. Each level it makes reaches the
// disk, with its name in the folder above, before a file is placed in it: a crash can't leave a moved file in
// a folder that the disk never recorded. `seen` holds the folders met already, and whether they are safe.
// Whether it is there and safe; `reason` says why not.
bool MakeDatedFolder(const std::string& toDir, const std::string& relative, std::map<std::string, bool>& seen,
                     std::string& reason) {
    std::string folder = toDir;
    for (size_t at = 0; at < relative.size();) {
        const size_t end = std::min(relative.find('/', at), relative.size());
        const std::string parent = folder;
        folder = platform::JoinPath(folder, relative.substr(at, end - at));
        at = end + 1;
        const auto known = seen.find(folder);
        if (known != seen.end() && known->second) {
            continue;
        }
        if (known == seen.end() && ::mkdir(folder.c_str(), 0777) != 0) {
            if (const int error = errno; error != EEXIST) {
                reason =
                    error == ENOENT && !platform::InfoOfPath(toDir)
                        ? "the destination folder does not exist"
                        : "the folder " + folder + " could not be made: " + platform::DescribeError(error);
                return false;
            }
            seen[folder] = true;  // there before this transfer
            continue;
        }
        // Made by this transfer (and, when this is a second try, not yet safe).
        platform::Status synced = platform::SyncPath(folder);
        synced = synced ? platform::SyncPath(parent) : synced;
        seen[folder] = synced.Ok();
        if (!synced) {
            reason = "the folder " + folder +
                     " could not be flushed to the disk: " + platform::DescribeError(synced.Error().error);
            return false;
        }
    }
    return true;
}

}  // namespace

TransferReport MovePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                        NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options) {
    const std::string toFolder = toDir;
    TransferReport report;
    std::optional<TransferRecorder> recorder;
    if (!StartRecording(options, /*archive=*/false, fromDir, toFolder, recorder, report)) {
        return report;
    }
    // Copies to another file system wait in a batch until it is full; their items are final once it is done.
    platform::CrossCopyBatch batch;
    std::vector<size_t> waiting;  // the items of the batch's copies
    size_t reported = 0;          // items before this one have gone to options.onItem
    const auto completeBatch = [&] {
        const std::vector<platform::MoveResult> results = batch.Complete();
        for (size_t i = 0; i < results.size(); ++i) {
            Apply(results[i], toFolder, report.items[waiting[i]]);
        }
        waiting.clear();
    };
    const auto reportFinal = [&] {
        for (const size_t end = waiting.empty() ? report.items.size() : waiting.front(); reported < end;
             ++reported) {
            const TransferItem& item = report.items[reported];
            if (recorder) {
                recorder->Outcome(platform::JoinPath(fromDir, item.oldName), item.outcome == Outcome::Done);
            }
            if (options.onItem) {
                options.onItem(item);
            }
        }
    };

    // No test for folders: a folder whose name passes the extension test (holiday.jpg) is moved like a file,
    // contents and all.
    std::optional<ImportedFiles> imported;
    if (options.skipImported) {
        imported.emplace(toFolder, options.log != nullptr ? options.log->Path() : std::string());
    }
    std::map<std::string, bool> datedFolders;  // met already, and whether each is safe
    const auto move = [&](const std::string& source, TransferItem& item, bool leadsGroup) {
        const std::string destination = platform::JoinPath(DestinationFolder(toFolder, item), item.newName);
        if (const auto same = imported ? imported->Find(source, destination) : std::nullopt) {
            item.outcome = Outcome::AlreadyThere;
            item.reason = "already on the computer as " + *same;
            return true;  // the files that travel with it are looked at each on its own
        }
        if (options.dryRun) {
            item.outcome = Outcome::Done;
            return true;
        }
        if (!MakeDatedFolder(toFolder, item.folder, datedFolders, item.reason)) {
            return false;
        }
        platform::StartedMove started = platform::StartMove(source, destination, options.cancel);
        if (started.copy && leadsGroup) {
            // The files that travel with it go only once it is safely in place: its copy is completed alone.
            platform::CrossCopyBatch alone;
            alone.Add(std::move(*started.copy));
            started.result = alone.Complete().front();
            started.copy.reset();
        }
        if (!started.copy) {
            Apply(started.result, toFolder, item);
            if (started.result.Error() == EEXIST && HoldTheSameBytes(source, destination)) {
                item.outcome = Outcome::AlreadyThere;
                item.reason = "already there (identical)";
            }
            return item.outcome != Outcome::Kept;
        }
        batch.Add(std::move(*started.copy));
        waiting.push_back(report.items.size() - 1);  // the item in hand
        item.reason = "not yet on the disk";         // replaced when the batch is complete
        return true;
    };
    // Every file's record is on the disk before it moves: a crash never leaves a moved file unrecorded.
    const auto planBatch = [&](const std::vector<std::pair<std::string, const TransferItem*>>& files) {
        if (recorder) {
            for (const auto& [source, item] : files) {
                recorder->Plan(source, platform::JoinPath(DestinationFolder(toFolder, *item), item->newName));
            }
            recorder->Flush();
        }
        return !recorder || recorder->Problem().Ok();
    };
    const size_t batchFiles = BatchFiles();
    const auto afterEachFile = [&] {
        if (batch.Size() >= batchFiles || batch.Bytes() >= kBatchBytes) {
            completeBatch();
        }
        reportFinal();
    };
    RunPassLoop({fromDir, toFolder, option, inputs, settings, options}, PassKind::Move, move, report,
                planBatch, afterEachFile);
    completeBatch();  // also when the pass was cancelled: these copies are whole
    reportFinal();
    EndRecording(recorder, report);
    return report;
}

}  // namespace transfer
