#include "transfer/PassSettings.h"

#include "platform/Text.h"
#include "settings/SettingsFile.h"
#include "transfer/NamingRules.h"

namespace transfer {
namespace {

// The value of `key`, or "" when it is missing.
std::string ValueOf(const SettingsFile& settings, const char* key) {
    const std::string value = settings.Read(key);
    return value == SettingsFile::kMissing ? std::string() : value;
}

std::string Refused(const SettingsFile& settings, const char* key, const std::string& why) {
    return std::string(key) + "= in " + settings.Path() + ": " + why;
}

std::string ReadExtensions(const SettingsFile& settings, const char* key, std::vector<std::string>& into) {
    const std::string value = ValueOf(settings, key);
    if (value.size() >= SettingsFile::kMaxValueLength) {
        // Read gives no more than that, so the list may have been cut in the middle of an extension.
        return Refused(settings, key,
                       "the list is too long (at most " + std::to_string(SettingsFile::kMaxValueLength - 1) +
                           " characters)");
    }
    ExtensionList list = ParseExtensionList(value);
    if (!list.error.empty()) {
        return Refused(settings, key, list.error);
    }
    if (!list.extensions.empty()) {
        into = std::move(list.extensions);
    }
    return {};
}

}  // namespace

std::string ReadPassSettings(const SettingsFile& settings, PassOptions& options) {
    std::string error = ReadExtensions(settings, "moveextensions", options.moveExtensions);
    if (const std::string zip = ReadExtensions(settings, "zipextensions", options.archiveExtensions);
        error.empty()) {
        error = zip;
    }
    const std::string recurse = ValueOf(settings, "recurse");
    if (recurse == "1" || recurse == "0") {
        options.recursive = recurse == "1";
    } else if (!recurse.empty() && error.empty()) {
        error = Refused(settings, "recurse", "\"" + recurse + "\" is neither 1 (walk the subfolders) nor 0");
    }
    const std::string skip = ValueOf(settings, "skipimported");
    if (skip == "1" || skip == "0") {
        options.skipImported = skip == "1";
    } else if (!skip.empty() && error.empty()) {
        error =
            Refused(settings, "skipimported", "\"" + skip + "\" is neither 1 (skip what was imported) nor 0");
    }
    const std::string source = platform::AsciiLowered(ValueOf(settings, "datesource"));
    if (source == "capture" || source == "file") {
        options.dateSource = source == "capture" ? DateSource::Capture : DateSource::FileTime;
    } else if (!source.empty() && error.empty()) {
        error = Refused(settings, "datesource", "\"" + source + "\" is neither capture nor file");
    }
    const std::string compression = platform::AsciiLowered(ValueOf(settings, "compression"));
    if (compression == "fast" || compression == "standard") {
        options.compression = compression == "fast" ? Compression::Fast : Compression::Standard;
    } else if (!compression.empty() && error.empty()) {
        error = Refused(settings, "compression", "\"" + compression + "\" is neither fast nor standard");
    }
    return error;
}

}  // namespace transfer
