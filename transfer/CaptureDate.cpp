#include "transfer/CaptureDate.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <exiv2/exiv2.hpp>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "transfer/NamingRules.h"

namespace transfer {
namespace {

using namespace std::string_view_literals;

// The kinds whose creation time Exiv2 reads from the QuickTime movie header.
constexpr std::array kQuickTimeExtensions = {".mp4"sv, ".mov"sv, ".m4v"sv, ".3gp"sv};

// A JPEG keeps its Exif segment (64 KiB at most) at its start, after at most a short JFIF segment.
constexpr size_t kHeadSize = 66 * 1024;

// Seconds from 1 January 1904, where QuickTime counts from, to 1 January 1970.
constexpr unsigned long long kQuickTimeEpochOffset = 2082844800ULL;

bool IsQuickTime(const std::string& path) {
    const std::string name = platform::NameOf(path);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos &&
           IsAccepted(platform::AsciiLowered(name.substr(dot)), kQuickTimeExtensions);
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

// What Exiv2 makes of the file that `open` gives. A JPEG's head that ends inside a later segment fails the
// read, but only after the Exif segment has been decoded: what was read by then counts.
template <typename Open>
std::optional<time_t> ReadWith(const Open& open, bool video) {
    Exiv2::Image::AutoPtr image;
    try {
        image = open();
        if (image.get() == nullptr) {
            return std::nullopt;
        }
        image->readMetadata();
    } catch (const std::exception&) {  // not a kind Exiv2 knows, damaged, or unreadable
        if (image.get() == nullptr) {
            return std::nullopt;
        }
    }
    return video ? FromQuickTime(image->xmpData()) : FromExif(image->exifData());
}

}  // namespace

std::optional<time_t> CaptureTime(const std::string& path) {
    static const bool quiet = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);  // its warnings about odd files are no concern of ours
        return true;
    }();
    (void)quiet;
    // Opened as a regular file, never blocking: a pipe named like a picture is no picture.
    platform::File file = platform::File::OpenRegularForReading(path);
    thread_local std::vector<Exiv2::byte> head(kHeadSize);  // made once: a card has thousands of pictures
    const ssize_t got = file.IsOpen() ? file.Read(head.data(), head.size()) : -1;
    file.Close();
    if (got <= 0) {
        return std::nullopt;
    }
    const bool video = IsQuickTime(path);
    // Once its reader of HEIF and CR3 files is on, Exiv2 hands it every file that starts like an ISO media
    // file, videos included, and that reader knows nothing of a video's creation time.
    Exiv2::enableBMFF(!video);
    const auto size = static_cast<long>(got);
    const bool whole = static_cast<size_t>(got) < head.size();
    const bool jpeg = got > 2 && head[0] == 0xFF && head[1] == 0xD8;
    // Reading the head from memory costs a fraction of the system calls of Exiv2's own file reads, which
    // is most of the cost on a card of thousands of pictures.
    if (whole || jpeg) {
        const auto taken = ReadWith([&] { return Exiv2::ImageFactory::open(head.data(), size); }, video);
        if (taken || whole) {
            return taken;
        }
    }
    return ReadWith([&] { return Exiv2::ImageFactory::open(path); }, video);
}

}  // namespace transfer
