#include "transfer/PassSettings.h"

#include <cerrno>

#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "transfer/CounterKeeper.h"
#include "transfer/DatedFolders.h"
#include "transfer/NamingRules.h"

namespace transfer {
namespace {

std::string ApplyExtensions(const std::string& value, std::vector<std::string>& into) {
    if (value.size() >= SettingsFile::kMaxValueLength) {
        // Read gives no more than that, so the list may have been cut in the middle of an extension.
        return "the list is too long (at most " + std::to_string(SettingsFile::kMaxValueLength - 1) +
               " characters)";
    }
    ExtensionList list = ParseExtensionList(value);
    if (!list.error.empty()) {
        return list.error;
    }
    into = std::move(list.extensions);
    return {};
}

std::string ApplySwitch(const std::string& value, bool& into, const char* meaning) {
    if (value != "1" && value != "0") {
        return "\"" + value + "\" is neither 1 (" + meaning + ") nor 0";
    }
    into = value == "1";
    return {};
}

}  // namespace

std::string ApplyPassSetting(std::string_view key, const std::string& value, PassOptions& options) {
    if (value.empty()) {
        return {};
    }
    if (key == "moveextensions" || key == "zipextensions") {
        return ApplyExtensions(value,
                               key == "moveextensions" ? options.moveExtensions : options.archiveExtensions);
    }
    if (key == "recurse") {
        return ApplySwitch(value, options.recursive, "walk the subfolders");
    }
    if (key == "skipimported") {
        return ApplySwitch(value, options.skipImported, "skip what was imported");
    }
    if (key == "eject") {
        return ApplySwitch(value, options.eject, "eject the card");
    }
    if (key == "datesource") {
        const std::string source = platform::AsciiLowered(value);
        if (source != "capture" && source != "file") {
            return "\"" + value + "\" is neither capture nor file";
        }
        options.dateSource = source == "capture" ? DateSource::Capture : DateSource::FileTime;
        return {};
    }
    if (key == "compression") {
        const std::string compression = platform::AsciiLowered(value);
        if (compression != "fast" && compression != "standard") {
            return "\"" + value + "\" is neither fast nor standard";
        }
        options.compression = compression == "fast" ? Compression::Fast : Compression::Standard;
        return {};
    }
    if (key == "folders") {
        std::string why = FolderPatternRefusal(value);
        if (why.empty()) {
            options.folders = value;
        }
        return why;
    }
    return "there is no such setting";
}

std::string ReadPassSettings(const SettingsFile& settings, PassOptions& options) {
    std::string error;
    for (const char* key : kPassSettingKeys) {
        std::string value = settings.Read(key);
        if (value == SettingsFile::kMissing) {
            continue;
        }
        if (const std::string why = ApplyPassSetting(key, value, options); !why.empty() && error.empty()) {
            error = std::string(key) + "= in " + settings.Path() + ": " + why;
        }
    }
    return error;
}

std::string SaveSettings(const SettingsFile& settings, const SettingsFile::Values& values) {
    for (const auto& [key, value] : values) {
        if (const std::string why = SettingsFile::RefusalOf(value); !why.empty()) {
            return key + "= can't hold \"" + value + "\": " + why + ".";
        }
    }
    const platform::Result<platform::File> lock = LockCounter(settings, kSettingsPatience);
    if (!lock) {
        return lock.Error().error == EAGAIN
                   ? "Another transfer is keeping its running number in " + settings.Path() +
                         ": try again when it has ended."
                   : "The settings could not be saved: " + lock.Error().Describe() + ".";
    }
    if (const platform::Status saved = settings.WriteAll(values); !saved) {
        const std::string path = settings.Path();
        return path.empty() ? "There is no settings file to save in."
                            : "The settings could not be saved in " + path + ": " +
                                  platform::DescribeError(saved.Error().error) + ".";
    }
    return {};
}

}  // namespace transfer
