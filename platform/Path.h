// Paths are byte strings exactly as the file system gives them; nothing here converts or normalises them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder, one "/", the name: always one "/" is added, even when the folder text already ends in one
// (a folder typed as "/media/card/" gives "/media/card//IMG.JPG", which the file system reads the same).
std::string JoinPath(std::string_view folder, std::string_view name);

// The part before the last "/" ("." when there is none, "/" for a name in the root).
std::string FolderOf(std::string_view path);

// The part after the last "/".
std::string NameOf(std::string_view path);

// A folder as a shell would take it: a leading "~/" stands for the home folder ($HOME, else the user's entry
// in the password database). A lone "~" is left as it is: it is the settings file's mark of a folder never
// saved, and a transfer must not take it for the home folder.
std::string ExpandHome(const std::string& folder);

}  // namespace platform
