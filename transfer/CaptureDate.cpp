#include "transfer/CaptureDate.h"

#include <exiv2/exiv2.hpp>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "platform/Text.h"

namespace transfer {
namespace {

using namespace std::string_view_literals;

// The kinds whose creation time Exiv2 reads from the QuickTime movie header.
constexpr std::array kQuickTimeExtensions = {".mp4"sv, ".mov"sv, ".m4v"sv, ".3gp"sv};

// Seconds from 1 January 1904, where QuickTime counts from, to 1 January 1970.
constexpr unsigned long long kQuickTimeEpochOffset = 2082844800ULL;

bool IsQuickTime(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return false;
    }
    const std::string extension = platform::AsciiLowered(std::string_view(path).substr(dot));
    for (std::string_view candidate : kQuickTimeExtensions) {
        if (candidate == extension) {
            return true;
        }
    }
    return false;
}

// "YYYY:MM:DD HH:MM:SS" as EXIF writes it, as local noon of that day. A camera whose clock was never set
// writes zeros or blanks: no value.
std::optional<time_t> FromExifText(const std::string& text) {
    int year = 0, month = 0, day = 0;
    if (std::sscanf(text.c_str(), "%4d:%2d:%2d", &year, &month, &day) != 3 || year < 1970 || month < 1 ||
        month > 12 || day < 1 || day > 31) {
        return std::nullopt;
    }
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    return t == static_cast<time_t>(-1) ? std::nullopt : std::optional<time_t>(t);
}

std::optional<time_t> FromExif(const Exiv2::ExifData& exif) {
    // Most cameras keep it in the Exif sub-IFD; some RAW formats in the main IFD.
    static const Exiv2::ExifKey kKeys[] = {Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"),
                                           Exiv2::ExifKey("Exif.Image.DateTimeOriginal")};
    for (const Exiv2::ExifKey& key : kKeys) {
        const auto found = exif.findKey(key);
        if (found != exif.end()) {
            if (const auto t = FromExifText(found->toString())) {
                return t;
            }
        }
    }
    return std::nullopt;
}

std::optional<time_t> FromQuickTime(const Exiv2::XmpData& xmp) {
    const auto found = xmp.findKey(Exiv2::XmpKey("Xmp.video.DateUTC"));
    if (found == xmp.end()) {
        return std::nullopt;
    }
    const std::string text = found->toString();
    char* end = nullptr;
    const unsigned long long seconds = std::strtoull(text.c_str(), &end, 10);
    // 0 means unknown; anything before 1970 is a clock that was never set.
    if (end == text.c_str() || *end != '\0' || seconds <= kQuickTimeEpochOffset) {
        return std::nullopt;
    }
    return static_cast<time_t>(seconds - kQuickTimeEpochOffset);
}

}  // namespace

std::optional<time_t> CaptureTime(const std::string& path) {
    static const bool quiet = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);  // its warnings about odd files are no concern of ours
        return true;
    }();
    (void)quiet;
    const bool video = IsQuickTime(path);
    // Once its reader of HEIF and CR3 files is on, Exiv2 hands it every file that starts like an ISO media
    // file, videos included, and that reader knows nothing of a video's creation time.
    Exiv2::enableBMFF(!video);
    try {
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
        if (image.get() == nullptr) {
            return std::nullopt;
        }
        image->readMetadata();
        return video ? FromQuickTime(image->xmpData()) : FromExif(image->exifData());
    } catch (const std::exception&) {
        return std::nullopt;  // not a kind Exiv2 knows, damaged, or unreadable: the file's own time stands in
    }
}

}  // namespace transfer
