// Where the running program lives, and its name.
#pragma once

#include <string>

namespace platform {

// The full path of the running executable (from /proc/self/exe); empty when it can't be found.
std::string ExecutablePath();

// The executable's file name without its extension: the application's name in message box captions.
std::string ApplicationNameFor(const std::string& executablePath);

}  // namespace platform
