// Where the running program lives, and the name of the settings file kept beside it.
#pragma once

#include <string>

namespace platform {

// The full path of the running executable (from /proc/self/exe); empty when it can't be found.
std::string ExecutablePath();

// The settings file for an executable: PROG.EXE gives PROG.ini (the last three characters replaced, so a
// settings file carried along from elsewhere keeps its name); a name without a three-letter extension, such
// as "tovaro", gets ".ini" added ("tovaro.ini"). Empty for an empty path.
std::string SettingsPathFor(const std::string& executablePath);

// The executable's file name without its extension: the application's name in message box captions.
std::string ApplicationNameFor(const std::string& executablePath);

}  // namespace platform
