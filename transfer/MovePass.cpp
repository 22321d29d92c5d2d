#include "transfer/MovePass.h"

#include <cerrno>

#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "transfer/PassLoop.h"

namespace transfer {
namespace {

std::string WhyNotMoved(const platform::MoveResult& result, const std::string& toDir) {
    if (result.error == ENOENT && !platform::InfoOfPath(toDir)) {
        return "the destination folder does not exist";
    }
    return result.reason;
}

}  // namespace

TransferReport MovePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                        NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options) {
    const std::string toFolder = toDir;
    TransferReport report;
    // No test for folders: a folder whose name passes the extension test (holiday.jpg) is moved like a file,
    // contents and all.
    const std::vector<std::string_view> extensions =
        ChosenExtensions(options.moveExtensions, MoveExtensions());
    const Selection selection{extensions, /*takesFolders=*/true};
    const auto move = [&](const std::string& source, TransferItem& item) {
        const std::string destination = platform::JoinPath(toFolder, item.newName);
        platform::MoveResult moved;
        if (!options.dryRun) {
            moved = platform::MoveNoReplace(source, destination, options.cancel);
        } else if (IsTakenByAnotherFile(destination, source)) {
            moved = platform::MoveResult::Failed(EEXIST);
        }
        switch (moved.outcome) {
            case platform::MoveOutcome::Moved:
                item.outcome = Outcome::Done;
                break;
            case platform::MoveOutcome::CopyOnly:
                item.outcome = Outcome::CopyKept;
                item.reason = moved.reason;
                break;
            case platform::MoveOutcome::NotMoved:
                item.reason = WhyNotMoved(moved, toFolder);
                break;
        }
        return item.outcome != Outcome::Kept;
    };
    RunPassLoop({fromDir, toFolder, option, inputs, settings, options}, selection, /*reportEachFile=*/true,
                move, report);
    return report;
}

}  // namespace transfer
