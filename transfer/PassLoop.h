// The loop both passes share: list the camera folder, take the entries whose extension the pass accepts,
// give each its new name, hand it to the pass's own step, and keep the running number after each file.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
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

// Which entries of the camera folder a pass takes.
struct Selection {
    std::span<const std::string_view> extensions;
    // The move pass hands a folder named like a picture (holiday.jpg) on like a file; the archive pass never
    // takes a folder.
    bool takesFolders = false;
};

// A pass's own work on one taken file: `source` is its path in the camera folder; `item` comes with both
// names composed and checked (UnsafeNameReason), outcome Kept and no reason. The step sets the outcome, and
// the reason when it is not Done. It returns whether the file went on its way (moved or copied; renamed and
// packed): the files that travel with it follow only then.
using FileStep = std::function<bool(const std::string& source, TransferItem& item)>;

// Runs `step` on every taken entry of the camera folder, in name order, and fills `report`: one item per
// taken entry (its old name is its path below the camera folder), the files left behind, a camera folder
// that can't be read or a destination that does not exist (report.problem), a counter that could not be
// kept, and whether the pass was cancelled. With options.recursive the subfolders are walked at their place
// in that order (hidden ones, and the destination folder, are not); folders are then never taken
// themselves. Without it, a camera folder that holds nothing to take while its subfolders do says so in
// report.notice.
//
// A RAW picture or an .xmp sidecar travels with the taken files of its folder that share its name up to the
// first "." (IMG_0001.CR2, IMG_0001.JPG, IMG_0001.xmp): the RAW pictures first and the sidecars last, one
// after the other, all under one new title, which uses up one number and takes its date from the first of
// them that records a capture date. When the first of them does not go on its way, the others stay with it.
//
// A new name that must not be used is reported without calling `step`. Under Number every taken entry uses
// up its number, whatever became of it, and the counter is kept after each (not in a dry run). Progress goes
// to options.onProgress, then `afterEachFile` runs (when given), with the file's item last in the report.
// The cancel flag is looked at before each file, or group of files that travel together. Final outcomes
// (options.onItem) are the pass's to report.
void RunPassLoop(const PassRequest& request, const Selection& selection, const FileStep& step,
                 TransferReport& report, const std::function<void()>& afterEachFile = {});

// The extensions a pass takes: `chosen` (PassOptions), or `defaults` when none were chosen. The views refer
// to `chosen`.
std::vector<std::string_view> ChosenExtensions(const std::vector<std::string>& chosen,
                                               std::span<const std::string_view> defaults);

// Whether `destination` names a file other than `source` (renaming a file to its own name is no clash). For
// dry runs, which must tell what a real pass would meet without moving anything.
bool IsTakenByAnotherFile(const std::string& destination, const std::string& source);

}  // namespace transfer
