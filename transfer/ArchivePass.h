// Renames every picture of the camera folder in place, packs it into ArchivePics.zip in the destination
// folder, and removes it from the camera folder once the archive is safely on the disk.
#pragma once

#include <string>

#include "transfer/NamingRules.h"
#include "transfer/TransferReport.h"

class SettingsFile;

namespace transfer {

inline constexpr const char* kArchiveName = "ArchivePics.zip";

// Takes the pictures of `fromDir` (ArchiveExtensions, or options.archiveExtensions; with options.recursive,
// those of its subfolders too, see RunPassLoop). Each is renamed in its own folder and stored under its full
// path, so pictures of the same name in two folders of a card are two members.

TransferReport ArchivePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                           NamingInputs& inputs, const SettingsFile& settings,
                           const PassOptions& options = {});

}  // namespace transfer
