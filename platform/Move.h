// Moving a file to a new name without ever replacing what is already there.
#pragma once

#include <string>

namespace platform {

// Moves `from` to `to` and never replaces an existing `to`. Returns 0 on success, else an errno value:
// EEXIST when `to` already names another file, EXDEV for a folder that would have to cross file systems,
// anything else as the system reported it.
//
// - Within one file system: a rename with RENAME_NOREPLACE; where the file system refuses that flag, a hard
//   link plus unlink, which cannot replace either (see MoveWithoutFlag for what is left).
// - A rename that only changes the letter case of the same file (same device and inode, as on a camera
//   card's case-insensitive file system) is allowed.
// - Across file systems: the file is copied into a new hidden file in the destination folder, its mode and
//   times kept, flushed, and renamed into place without replacing; only then is the source removed. A killed
//   process therefore never leaves a partial file under the final name, and a failed copy removes what it
//   wrote and leaves the source as it was. A symbolic link is moved as a link; folders are not copied.
int MoveNoReplace(const std::string& from, const std::string& to);

// Plain words for an errno value from MoveNoReplace or the file calls, for reports shown to a person.
std::string DescribeError(int error);

}  // namespace platform
