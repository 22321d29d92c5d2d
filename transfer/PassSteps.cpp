#include "transfer/PassSteps.h"

#include "platform/File.h"
#include "settings/SettingsFile.h"

namespace transfer {

time_t CreationTimeOf(const std::string& path) {
    const auto info = platform::InfoOfPath(path, /*followLinks=*/false);
    return info ? info->CreationTime().tv_sec : 0;
}

bool IsTakenByAnotherFile(const std::string& destination, const std::string& source) {
    const auto there = platform::InfoOfPath(destination, /*followLinks=*/false);
    const auto here = platform::InfoOfPath(source, /*followLinks=*/false);
    return there && !(here && here->device == there->device && here->inode == there->inode);
}

std::string CounterError(const SettingsFile& settings) {
    const std::string path = settings.Path();
    return path.empty() ? "there is no settings file to keep the running number in"
                        : "the running number could not be saved in " + path;
}

}  // namespace transfer
