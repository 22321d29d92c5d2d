// The transfer options that the settings file keeps beside the folders and the counter, in its "settings"
// section: which extensions each pass takes (moveextensions=, zipextensions=), whether the camera folder's
// subfolders are walked (recurse=1), where Date of Photo takes the day from (datesource=capture), how the
// archive is compressed (compression=fast), and whether files already on the computer are skipped
// (skipimported=1). The window and tovaro-cli read them the same way, so a setting holds for both.
#pragma once

#include <string>

#include "transfer/TransferReport.h"

class SettingsFile;

namespace transfer {

// Sets the option of each of those keys that `settings` holds. A missing or empty key leaves its option as
// it is. Returns why a value was refused, naming the key and the file ("" when every value was good); the
// option of a refused value is left as it is.
std::string ReadPassSettings(const SettingsFile& settings, PassOptions& options);

}  // namespace transfer
