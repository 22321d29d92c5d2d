// The plan of a transfer, made before anything is changed: every entry of the camera folder the pass meets,
// the new name of each file it takes and what will become of it. A dry run reports the plan as it is; a real
// pass acts on it, checking again file by file; a preview shows it. So what is shown is what is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "transfer/NamingRules.h"
#include "transfer/TransferReport.h"

class SettingsFile;

namespace transfer {

// What a pass was asked to do, as its caller gave it.
struct PassRequest {
    const std::string& fromDir;
    const std::string& toDir;
    NameOption option;
    NamingInputs& inputs;
    const SettingsFile& settings;
    const PassOptions& options;
};

// Which pass the plan is for: the move pass takes pictures and videos (and folders named like them) into the
// destination folder; the archive pass renames pictures in their own folder and packs them.
enum class PassKind { Move, Archive };

// One taken entry of the camera folder.
struct PlannedFile {
    // Its path below the camera folder, its new name, and what will become of it: Done when it is to go,
    // AlreadyThere, or Kept with the reason (a clash, an unsafe name, a group whose first file stays, ...).
    TransferItem item;
    std::string extension;  // SelectionExtension of its name: what its new name ends with
    size_t lead = 0;        // the index of the first file of the group it travels with; its own when alone
    // Under Number, the running number after it: what the counter holds once it has been handled.
    int32_t numberAfter = 0;
    // The old name of the file of this same transfer that takes the new name first, when that is why it
    // stays.
    std::string clashWith;
};

struct TransferPlan {
    PassKind kind = PassKind::Move;
    std::vector<PlannedFile> files;  // the taken entries, in the order they are handled
    // Why the pass can't do anything: the camera folder can't be read (nothing is listed then), or the
    // destination folder does not exist (every file stays, with that reason).
    std::string problem;
    // Folders and entries below the camera folder that could not be read or examined, a sentence each: what
    // they hold stays, and it counts as not done.
    std::vector<std::string> unread;
    std::map<std::string, size_t> leftBehind;  // as TransferReport::leftBehind
    std::string notice;                        // a camera folder whose subfolders hold what it does not
    // Under Number, the number box's text the names were composed from: a transfer acting on this plan later
    // must plan again when the running number has moved meanwhile.
    std::string startNumber;
    bool named = false;  // NameTransfer ran to the end (it stops early when the pass is cancelled)
};

// Step 1: lists the camera folder (with options.recursive its subfolders too, hidden ones and the destination
// folder not) and takes the entries the pass takes, in name order, each group in its travelling order; the
// files left behind are counted. Changes nothing.
//
// A RAW picture or an .xmp sidecar travels with the taken files of its folder that share its name up to the
// first "." (IMG_0001.CR2, IMG_0001.JPG, IMG_0001.xmp): the RAW pictures first and the sidecars last, all
// under one new title, which uses up one number and takes its date from the first of them that records a
// capture date.
TransferPlan ListTransfer(const PassRequest& request, PassKind kind);

// Step 2: composes each taken file's new name from request.inputs (read, not changed: the running number
// advances in a copy; numberAfter tells each file's) and foresees what becomes of it, as a real pass would
// find it now: a new name that must not be used (UnsafeNameReason), a destination folder that does not
// exist (for the move pass: the archive pass still renames in place, and its step tells), a name another file
// already has, or that a file of this same transfer takes first, and the files that stay with the first of
// their group. A move whose new name holds a file with the very same bytes (read and compared now) is
// AlreadyThere. Stops early when options.cancel is set.
void NameTransfer(const PassRequest& request, TransferPlan& plan);

// Both steps: the whole plan, as a dry run or a preview shows it.
TransferPlan PlanTransfer(const PassRequest& request, PassKind kind);

// The folder a moved file goes into: its dated folder below `toDir`, or `toDir` itself.
std::string DestinationFolder(const std::string& toDir, const TransferItem& item);

// Whether the regular files at `a` and `b` hold the very same bytes, read now.
bool HoldTheSameBytes(const std::string& a, const std::string& b);

}  // namespace transfer
