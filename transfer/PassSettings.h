// The transfer options that the settings file keeps beside the folders and the counter, in its "settings"
// section: which extensions each pass takes (moveextensions=, zipextensions=), whether the camera folder's
// subfolders are walked (recurse=1), where Date of Photo takes the day from (datesource=capture), whether
// files already on the computer are skipped (skipimported=1), the dated folders the moved files go into
// (folders=%Y/%Y-%m-%d), whether the card is ejected after a transfer that went well (eject=1), and how the
// archive is compressed (compression=fast). The window and tovaro-cli read them the same way, so a setting
// holds for both.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "settings/SettingsFile.h"
#include "transfer/TransferReport.h"

namespace transfer {

// The keys above, in the order the settings file lists them.
inline constexpr std::array<const char*, 8> kPassSettingKeys = {"moveextensions", "zipextensions", "recurse",
                                                                "datesource",     "skipimported",  "folders",
                                                                "eject",          "compression"};

// Sets the option that `key` (one of kPassSettingKeys) chooses from `value`. An empty value leaves the option
// as it is. Returns why the value was refused, in plain words ("" when it is good); the option of a refused
// value is left as it is.
std::string ApplyPassSetting(std::string_view key, const std::string& value, PassOptions& options);

// Sets the option of each of those keys that `settings` holds. A missing or empty key leaves its option as
// it is. Returns why a value was refused, naming the key and the file ("" when every value was good); the
// option of a refused value is left as it is.
std::string ReadPassSettings(const SettingsFile& settings, PassOptions& options);

// Stores `values` in `settings` in one replacement of the file, read afresh, while holding the running
// number's lock, so that neither a pass's counter nor a value written meanwhile is lost. Waits a moment for
// a pass that holds the lock, not for the whole of it. Returns why nothing was stored ("" when all was).
std::string SaveSettings(const SettingsFile& settings, const SettingsFile::Values& values);

}  // namespace transfer
