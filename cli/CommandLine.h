// The command line of tovaro-cli: what it accepts, and the help text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transfer/NamingRules.h"
#include "transfer/TransferReport.h"

namespace cli {

inline constexpr int kExitAllMoved = 0;
inline constexpr int kExitSomeNotMoved = 1;
inline constexpr int kExitUsage = 2;

struct CliOptions {
    std::string fromDir;
    std::string toDir;
    transfer::NameOption nameOption = transfer::kNameNothing;
    std::string text;                    // --text
    std::optional<int32_t> startNumber;  // --number=N; --number alone takes the saved counter
    std::string renameFind, renameNew;   // --rename
    bool zip = false;                    // --zip: the archive pass instead of the move pass
    bool dryRun = false;
    bool quiet = false;
    std::string settingsPath;  // --settings; empty: the usual settings file (SettingsFile::LocationFor)
    // Each overrides what the settings file says, when given.
    std::optional<std::vector<std::string>> moveExtensions;  // --move-extensions
    std::optional<std::vector<std::string>> zipExtensions;   // --zip-extensions
    bool recursive = false;                                  // --recursive
    bool skipImported = false;                               // --skip-imported
    std::optional<transfer::DateSource> dateSource;          // --date-from
    std::optional<transfer::Compression> compression;        // --compression
    std::optional<std::string> folders;                      // --folders
    bool eject = false;                                      // --eject
    bool log = false;   // --log: show the last transfers instead of running one
    bool undo = false;  // --undo: undo the last transfer instead of running one
    bool help = false;
    bool version = false;
};

struct ParseResult {
    CliOptions options;
    std::string error;  // one line, for a usage error; empty when the command line is good
};

// Reads the arguments that follow the program's name.
ParseResult ParseCommandLine(std::span<const std::string> args);

// The text that --help prints.
std::string HelpText();

// The text that --version prints.
std::string VersionText();

}  // namespace cli
