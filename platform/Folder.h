// Listing a folder for a transfer pass.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct FolderEntry {
    std::string name;          // as the file system keeps it, no folder part
    bool isDots = false;       // "." or ".."
    bool isDirectory = false;  // a folder itself; a link to a folder is not one
    int error = 0;  // why its kind could not be found out (isDirectory is then unknown); 0 if it was
};

// Every entry of the folder in directory order, hidden ones and "." and ".." included. The whole listing is
// taken before the caller handles the first entry, so a file that a pass renames inside this folder is never
// met a second time under its new name. No value when the folder can't be read (errno tells why). The
// folder is opened through Sys(), so a test can make it unreadable.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder);

}  // namespace platform
