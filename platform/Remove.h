// The one gate through which a source leaves the camera folder once its copy is safe: the move pass, its
// batches of copies to another file system and the archive pass all remove through it.
#pragma once

#include <string>

#include "platform/File.h"
#include "platform/Outcome.h"

namespace platform {

enum class Removal {
    Removed,       // it is gone
    Gone,          // another program removed it meanwhile: nothing to do
    Changed,       // the name no longer holds the very file copied, or it was written to since: it stays
    BeingWritten,  // a process holds it open for writing (or, where that can't be known, it was written to a
                   // moment ago): it stays
    Protected,     // no write permission bit is set, as a camera marks a protected picture: it stays
};

// Removes `path` only when it still names the very file that was copied (`copied`: what it was when the copy
// began), unchanged since, not write-protected, and no process has it open for writing.
//
// Linux lets a file that is open for writing be unlinked, and what the writer adds afterwards goes into a
// deleted file; a pause in the writer hides it from any comparison of sizes and times. So, where the file
// system keeps leases for the whole world (a local one), the gate takes a read lease on a read-only
// descriptor, which the kernel refuses while any writer has the file open, looks right before the unlink
// that no writer has asked to break it meanwhile, unlinks, and lets go. Where leases are not to be had or
// would not see every writer (network and FUSE file systems, a file of another owner without CAP_LEASE) it
// falls back on a heuristic: the file must not have been written to for a few seconds (kQuietSeconds). That
// sees a writer that writes steadily, not one that pauses for longer.
// A Failure only when the removal itself, or a check on the way, failed: the file then stays as well.
Result<Removal> RemoveIfUnchanged(const std::string& path, const FileInfo& copied);

// How long a file must have stood still before the heuristic takes it for finished.
inline constexpr int kQuietSeconds = 5;

}  // namespace platform
