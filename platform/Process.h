// What the process may hold open, and what a helper program it starts gets back.
#pragma once

#include <cstddef>

namespace platform {

// Raises the soft limit on open files to the hard limit, remembering the original one for helper programs.
// Called once at the start of each program, before any thread starts: a batch of copies to another file
// system holds a descriptor per file.
void RaiseOpenFileLimit();

// How many more files this process may open now (the soft limit less the descriptors open).
size_t OpenFilesLeft();

// For a helper program the pass starts, in the child between fork and exec: puts back the original limit on
// open files and the default action of SIGPIPE, as a program started from a shell expects. Only calls that
// are safe there.
void RestoreForHelper();

}  // namespace platform
