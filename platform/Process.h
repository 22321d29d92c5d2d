// What the process may hold open, and what a helper program it starts gets back.
#pragma once

#include <sys/types.h>
#include <cstddef>

namespace platform {

// Raises the soft limit on open files to the hard limit, remembering the original one for helper programs.
// Called once at the start of each program, before any thread starts: a batch of copies to another file
// system holds a descriptor per file.
void RaiseOpenFileLimit();

// How many more files this process may open now (the soft limit less the descriptors open).
size_t OpenFilesLeft();

// For a helper program the pass has started (`helper`, its process id): puts back the original limit on open
// files, as a program started from a shell expects. (Its signals, SIGPIPE among them, are put back to their
// defaults when it is started: ChildProcess.)
void RestoreForHelper(pid_t helper);

}  // namespace platform
