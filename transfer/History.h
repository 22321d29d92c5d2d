// The transfers the import log tells of, and undoing the latest of them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "transfer/ImportLog.h"

namespace transfer {

// One transfer as the log tells it.
struct PastTransfer {
    std::string id;
    std::string time;  // when it started (UTC)
    bool archive = false;
    std::string fromDir, toDir;
    // Each file it planned, with its last word: "done", "kept", or "plan" when the transfer was stopped
    // before it could say (a kill, a power cut).
    std::vector<LogRecord> files;
    bool undone = false;

    size_t DoneCount() const;
};

// The transfers of the log that planned any file, oldest first.
std::vector<PastTransfer> PastTransfers(const std::vector<LogRecord>& records);

// The latest of them not yet undone; null when there is none.
const PastTransfer* LatestUndoable(const std::vector<PastTransfer>& transfers);

// What undo did with one file.
struct UndoItem {
    std::string from;  // where the file was (for the archive: its member name)
    std::string to;    // its old name, where it was to go back
    bool back = false;
    std::string reason;  // why it stays, when not back
};

struct UndoReport {
    std::string transfer;  // the id of the transfer undone
    std::string problem;   // why nothing was undone at all; empty when it ran
    std::vector<UndoItem> items;

    size_t Back() const;
    size_t Stayed() const { return items.size() - Back(); }
};

// Undoes the latest transfer of the log in `logFolder` that is not yet undone: each of its files goes back
// to its old name, never replacing anything -- a moved file is moved back, an archived picture is written
// back from the archive (its data checked against the archive's CRC-32; the archive is kept). A file whose
// old name is taken again, or that changed since the transfer, stays. Refused while a transfer runs. The
// transfer is marked undone in the log, whatever stayed. The running number is not wound back.
UndoReport UndoLatestTransfer(const std::string& logFolder);

// Whether a transfer of any copy of the program records into the log in `logFolder` right now, so that undo
// would be refused.
bool AnyTransferRuns(const std::string& logFolder);

}  // namespace transfer
