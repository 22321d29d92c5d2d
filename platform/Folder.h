// Listing a folder for a transfer pass.
#pragma once

#include <string>
#include <vector>

#include "platform/Outcome.h"

namespace platform {

struct FolderEntry {
    std::string name;          // as the file system keeps it, no folder part
    bool isDots = false;       // "." or ".."
    bool isDirectory = false;  // a folder itself; a link to a folder is not one
    Status examined;           // whether its kind could be found out (isDirectory is unknown when not)
};

// Every entry of the folder in directory order, hidden ones and "." and ".." included. The whole listing is
// taken before the caller handles the first entry, so a file that a pass renames inside this folder is never
// met a second time under its new name. The folder is opened through Sys(), so a test can make it
// unreadable.
Result<std::vector<FolderEntry>> ListFolder(const std::string& folder);

}  // namespace platform
