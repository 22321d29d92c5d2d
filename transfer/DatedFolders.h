// Dated folders: the folder below the destination that a moved file goes into, from a pattern of the
// file's date such as %Y/%Y-%m-%d (folders= in the settings, --folders in tovaro-cli).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace transfer {

// Why `pattern` can't be used, in plain words; "" when it can. A pattern is literal text and the codes %Y
// (2026), %y (26), %m, %d, %H, %M, %S (two digits each) and %% (a "%"), with "/" between the levels of
// folders. Empty levels are left out ("%Y//%m/" is "%Y/%m"). Refused: another code, a leading "/" or a
// level ".." or "." (either could reach out of the destination, or name it) and a NUL. "" is no pattern:
// no dated folders. (A pattern that is not refused always gives a folder: it has a level that is not empty.)
std::string FolderPatternRefusal(std::string_view pattern);

// The folder `pattern` gives for a file dated `when` (local time), relative to the destination, its levels
// joined by "/" with no "/" at either end; "" for an empty pattern. Only for a pattern that is not refused.
std::string ExpandFolderPattern(std::string_view pattern, time_t when);

}  // namespace transfer
