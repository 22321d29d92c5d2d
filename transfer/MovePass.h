// Moves every picture and video of the camera folder into the destination folder under its new name.
#pragma once

#include <string>

#include "transfer/NamingRules.h"
#include "transfer/TransferReport.h"

class SettingsFile;

namespace transfer {

// Takes the entries of `fromDir` whose extension is one of MoveExtensions (or of options.moveExtensions;
// with options.recursive, of its subfolders too, see RunPassLoop), gives each its new name by
// `option` (reading `inputs` afresh for every file) and moves it to `toDir` without ever replacing a file.
// Copies to another file system are made durable in batches (up to 256 files or 64 MiB): no source goes
// before its copy and the copy's name are on the disk, and a small file pays no disk round trip of its own.
// Under the Number option the running number advances in `inputs` and is kept in `settings` ("counter")
// after every taken file, moved or not, and the settings file is flushed once at the end.
//
// The folder is listed whole before the first entry is handled, so a file renamed in place (the same folder
// on both sides) is never met twice. A new name that would leave the destination folder (UnsafeNameReason)
// is never used: that file stays and its report says why. A dry run composes and checks the names as a real
// pass would (the number advances in `inputs` as usual) and reports a name already taken in the destination,
// but moves nothing and writes no setting.
TransferReport MovePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                        NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options = {});

}  // namespace transfer
