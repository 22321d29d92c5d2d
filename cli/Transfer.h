// Runs one pass for tovaro-cli and prints what became of each file.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/CommandLine.h"

namespace cli {

// Runs the pass that `options` ask for. Prints a line per taken file and a summary to `out` (with --quiet
// only the files that were not moved), warnings to `err`, and, when `showProgress` is set, a progress line
// on `err` that it clears again. Returns the exit status.
int RunTransfer(const CliOptions& options, std::ostream& out, std::ostream& err, bool showProgress);

// --log: prints the last transfers of the import log, one line each, and the files of the latest.
int ShowLog(std::ostream& out, std::ostream& err);

// --undo: puts the files of the latest transfer not yet undone back, a line for each. 1 when any stayed.
int RunUndo(std::ostream& out, std::ostream& err);

}  // namespace cli
