// Small steps that both passes take for each file.
#pragma once

#include <ctime>
#include <string>

class SettingsFile;

namespace transfer {

// The entry's own creation time (a link's, not its target's): its birth time, or its last write where the
// file system keeps no birth time; 0 when it can't be read.
time_t CreationTimeOf(const std::string& path);

// Whether `destination` names a file other than `source` (renaming a file to its own name is no clash). For
// dry runs, which must tell what a real pass would meet without moving anything.
bool IsTakenByAnotherFile(const std::string& destination, const std::string& source);

// Why the running number could not be kept, for a pass's report.
std::string CounterError(const SettingsFile& settings);

}  // namespace transfer
