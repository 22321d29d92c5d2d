#include "transfer/CaptureDate.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Text.h"

namespace transfer {
namespace {

using namespace std::string_view_literals;
namespace Type = Exiv2::ImageType;

// The kinds of picture whose Exif data Exiv2 reads, by extension, with the kinds Exiv2 may find the first
// bytes to be: a file is handed to the reader of its own kind only, never to whichever reader its bytes
// please (a ".jpg" that holds a video goes to no video reader).
struct Kind {
    std::string_view extension;
    std::array<int, 2> types;
};
constexpr Kind kKinds[] = {
    {".jpg"sv, {Type::jpeg, Type::jpeg}},  {".jpeg"sv, {Type::jpeg, Type::jpeg}},
    {".jpe"sv, {Type::jpeg, Type::jpeg}},  {".tif"sv, {Type::tiff, Type::tiff}},
    {".tiff"sv, {Type::tiff, Type::tiff}}, {".png"sv, {Type::png, Type::png}},
    {".webp"sv, {Type::webp, Type::webp}}, {".heic"sv, {Type::bmff, Type::bmff}},
    {".heif"sv, {Type::bmff, Type::bmff}}, {".hif"sv, {Type::bmff, Type::bmff}},
    {".avif"sv, {Type::bmff, Type::bmff}}, {".cr3"sv, {Type::bmff, Type::bmff}},
    {".cr2"sv, {Type::cr2, Type::tiff}},   {".crw"sv, {Type::crw, Type::crw}},
    {".orf"sv, {Type::orf, Type::tiff}},   {".rw2"sv, {Type::rw2, Type::tiff}},
    {".raf"sv, {Type::raf, Type::raf}},    {".mrw"sv, {Type::mrw, Type::mrw}},
    {".arw"sv, {Type::tiff, Type::tiff}},  {".dng"sv, {Type::tiff, Type::tiff}},
    {".nef"sv, {Type::tiff, Type::tiff}},  {".nrw"sv, {Type::tiff, Type::tiff}},
    {".pef"sv, {Type::tiff, Type::tiff}},  {".srw"sv, {Type::tiff, Type::tiff}},
    {".sr2"sv, {Type::tiff, Type::tiff}},  {".3fr"sv, {Type::tiff, Type::tiff}},
    {".erf"sv, {Type::tiff, Type::tiff}},  {".kdc"sv, {Type::tiff, Type::tiff}},
};

// The videos whose headers we read ourselves: Exiv2's video readers loop for ever on a truncated file.
constexpr std::array kQuickTimeExtensions = {".mp4"sv, ".mov"sv, ".m4v"sv, ".3gp"sv};
constexpr std::string_view kAviExtension = ".avi";

// A JPEG keeps its Exif segment (64 KiB at most) at its start, after at most a short JFIF segment.
constexpr size_t kHeadSize = 66 * 1024;

// Seconds from 1 January 1904, where QuickTime counts from, to 1 January 1970.
constexpr uint64_t kQuickTimeEpochOffset = 2082844800ULL;

// A movie holds a handful of boxes at its top and in its movie box; a file of thousands is no movie.
constexpr int kMaxBoxes = 4096;

CaptureRead Status(CaptureStatus status) {
    return CaptureRead{status, 0};
}

CaptureRead Found(time_t time) {
    return CaptureRead{CaptureStatus::Found, time};
}

const Kind* KindOf(std::string_view extension) {
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const Kind& kind) { return kind.extension == extension; });
    return found == std::end(kKinds) ? nullptr : found;
}

bool IsQuickTime(std::string_view extension) {
    return std::find(kQuickTimeExtensions.begin(), kQuickTimeExtensions.end(), extension) !=
           kQuickTimeExtensions.end();
}

bool IsVideo(std::string_view extension) {
    return IsQuickTime(extension) || extension == kAviExtension;
}

// The lower-cased extension from the last ".".
std::string ExtensionOf(const std::string& path) {
    const std::string name = platform::NameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : platform::AsciiLowered(name.substr(dot));
}

// "YYYY:MM:DD HH:MM:SS" as EXIF writes it, as local noon of that day. A camera whose clock was never set
// writes zeros or blanks: no value.
CaptureRead FromExifText(const std::string& text) {
    int year = 0, month = 0, day = 0;
    if (std::sscanf(text.c_str(), "%4d:%2d:%2d", &year, &month, &day) != 3 || year < 1970 || month < 1 ||
        month > 12 || day < 1 || day > 31) {
        return Status(CaptureStatus::None);
    }
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    return t == static_cast<time_t>(-1) ? Status(CaptureStatus::None) : Found(t);
}

CaptureRead FromExif(const Exiv2::ExifData& exif) {
    // Most cameras keep it in the Exif sub-IFD; some RAW formats in the main IFD.
    static const Exiv2::ExifKey kKeys[] = {Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"),
                                           Exiv2::ExifKey("Exif.Image.DateTimeOriginal")};
    for (const Exiv2::ExifKey& key : kKeys) {
        const auto found = exif.findKey(key);
        if (found != exif.end()) {
            if (const CaptureRead read = FromExifText(found->toString());
                read.status == CaptureStatus::Found) {
                return read;
            }
        }
    }
    return Status(CaptureStatus::None);
}

// What Exiv2 makes of the picture that `open` gives, when its first bytes are, by `typeOf`, of one of the
// kind's types. A JPEG's head that ends inside a later segment fails the read, but only after the Exif
// segment has been decoded: what was read by then counts.
template <typename TypeOf, typename Open>
CaptureRead ReadWith(const Kind& kind, const TypeOf& typeOf, const Open& open) {
    Exiv2::Image::AutoPtr image;
    try {
        // Even telling the type can throw, on a file that starts like one kind and goes on like none.
        const int type = typeOf();
        if (std::find(kind.types.begin(), kind.types.end(), type) == kind.types.end()) {
            return Status(CaptureStatus::WrongKind);
        }
        image = open();
        if (image.get() == nullptr || image->imageType() != type) {
            return Status(CaptureStatus::WrongKind);
        }
        image->readMetadata();
    } catch (const std::exception&) {  // damaged, or unreadable
        if (image.get() == nullptr) {
            return Status(CaptureStatus::None);
        }
    }
    return FromExif(image->exifData());
}

uint64_t BigEndian(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// Reads `count` bytes at `offset`; false when they are not all there.
using ReadAt = std::function<bool(uint64_t offset, uint8_t* buffer, size_t count)>;

// The creation time of a QuickTime or MP4 file's movie header ("mvhd" in the top-level "moov" box), which
// counts seconds from 1904 in UTC. Every box must lie within its parent: a box that claims to reach past the
// end of the file is damage (Exiv2 would walk such a file for minutes).
CaptureRead QuickTimeCreation(const ReadAt& read, uint64_t size) {
    uint64_t at = 0, end = size;
    bool inMovie = false;
    for (int boxes = 0; boxes < kMaxBoxes && end - at >= 8; ++boxes) {
        uint8_t header[16];
        if (!read(at, header, 8)) {
            return Status(CaptureStatus::Damaged);
        }
        uint64_t length = BigEndian(header, 4), headerSize = 8;
        if (length == 1) {  // the length follows as 64 bits
            if (end - at < 16 || !read(at + 8, header + 8, 8)) {
                return Status(CaptureStatus::Damaged);
            }
            length = BigEndian(header + 8, 8);
            headerSize = 16;
        } else if (length == 0) {  // the box runs to the end
            length = end - at;
        }
        if (length < headerSize || length > end - at) {
            return Status(CaptureStatus::Damaged);
        }
        const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
        if (!inMovie && type == "moov") {
            inMovie = true;
            end = at + length;
            at += headerSize;
            continue;
        }
        if (inMovie && type == "mvhd") {
            uint8_t fields[12];  // version, flags, creation time of 32 bits (version 0) or 64 (version 1)
            const uint64_t need = 4 + 8;
            if (length - headerSize < need || !read(at + headerSize, fields, need)) {
                return Status(CaptureStatus::Damaged);
            }
            const uint64_t created = fields[0] == 1 ? BigEndian(fields + 4, 8) : BigEndian(fields + 4, 4);
            // 0 means unknown; anything before 1970 is a clock that was never set.
            return created <= kQuickTimeEpochOffset || created - kQuickTimeEpochOffset > INT64_MAX / 2
                       ? Status(CaptureStatus::None)
                       : Found(static_cast<time_t>(created - kQuickTimeEpochOffset));
        }
        at += length;
    }
    return Status(CaptureStatus::None);
}

uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// The date an AVI camera writes as its "IDIT" chunk in the header list ("LIST" "hdrl") or after it, as C's
// ctime() writes it ("THU OCT 26 16:46:04 2006") or as EXIF does; the camera's local clock, as local noon.
CaptureRead FromAviDate(const std::string& text) {
    static constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    char month[4] = {};
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (std::sscanf(text.c_str(), "%*3s %3s %d %d:%d:%d %d", month, &day, &hour, &minute, &second, &year) !=
        6) {
        return FromExifText(text);
    }
    for (char& c : month) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const size_t at = kMonths.find(month);
    if (std::strlen(month) != 3 || at == std::string_view::npos || at % 3 != 0) {
        return Status(CaptureStatus::None);
    }
    char exif[32];
    std::snprintf(exif, sizeof exif, "%04d:%02zu:%02d", year, at / 3 + 1, day);
    return FromExifText(exif);
}

// Walks the chunks of an AVI file ("RIFF" "AVI ") and of its header list for the "IDIT" chunk. Every chunk
// must lie within the file.
CaptureRead AviCreation(const ReadAt& read, uint64_t size) {
    uint8_t header[12];
    if (size < 12 || !read(0, header, 12) || std::string_view(reinterpret_cast<char*>(header), 4) != "RIFF" ||
        std::string_view(reinterpret_cast<char*>(header + 8), 4) != "AVI ") {
        return Status(CaptureStatus::WrongKind);
    }
    uint64_t at = 12, end = std::min<uint64_t>(size, 8 + uint64_t{LittleEndian32(header + 4)});
    for (int chunks = 0; chunks < kMaxBoxes && at < end && end - at >= 8; ++chunks) {
        if (!read(at, header, 8)) {
            return Status(CaptureStatus::Damaged);
        }
        const std::string_view id(reinterpret_cast<char*>(header), 4);
        const uint64_t length = LittleEndian32(header + 4);
        if (length > end - at - 8) {
            return Status(CaptureStatus::Damaged);
        }
        if (id == "LIST" && length >= 4 && read(at + 8, header, 4) &&
            std::string_view(reinterpret_cast<char*>(header), 4) == "hdrl") {
            at += 12;  // into the header list, whose end is at most the file's
            continue;
        }
        if (id == "IDIT") {
            std::string text(std::min<uint64_t>(length, 64), '\0');
            return read(at + 8, reinterpret_cast<uint8_t*>(text.data()), text.size())
                       ? FromAviDate(text.c_str())
                       : Status(CaptureStatus::Damaged);
        }
        at += 8 + length + (length & 1);
    }
    return Status(CaptureStatus::None);
}

ReadAt InMemory(const uint8_t* data, size_t size) {
    return [=](uint64_t offset, uint8_t* buffer, size_t count) {
        const bool inside = offset <= size && count <= size - offset;
        if (inside) {
            std::copy_n(data + offset, count, buffer);
        }
        return inside;
    };
}

void Prepare() {
    static const bool prepared = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);  // its warnings about odd files are no concern of ours
        Exiv2::enableBMFF(true);                       // HEIF and CR3 pictures; videos never reach it
        return true;
    }();
    (void)prepared;
}

}  // namespace

CaptureRead CaptureTimeOfBytes(const uint8_t* data, size_t size, std::string_view extension) {
    Prepare();
    if (IsVideo(extension)) {
        return (IsQuickTime(extension) ? QuickTimeCreation : AviCreation)(InMemory(data, size), size);
    }
    const Kind* kind = KindOf(extension);
    if (kind == nullptr || size == 0) {
        return Status(CaptureStatus::None);
    }
    const auto length = static_cast<long>(size);
    return ReadWith(
        *kind, [&] { return Exiv2::ImageFactory::getType(data, length); },
        [&] { return Exiv2::ImageFactory::open(data, length); });
}

CaptureRead ReadCaptureTime(const std::string& path) {
    Prepare();
    const std::string extension = ExtensionOf(path);
    const Kind* kind = KindOf(extension);
    if (kind == nullptr && !IsVideo(extension)) {
        return Status(CaptureStatus::None);
    }
    // Opened as a regular file, never blocking: a pipe named like a picture is no picture.
    platform::Result<platform::File> file = platform::File::OpenRegularForReading(path);
    const auto info = file ? file->Info() : file.Error();
    if (!info) {
        return Status(CaptureStatus::None);
    }
    if (kind == nullptr) {
        const ReadAt fromFile = [&](uint64_t offset, uint8_t* buffer, size_t count) {
            return file->ReadAt(offset, buffer, count).Ok();
        };
        return (IsQuickTime(extension) ? QuickTimeCreation : AviCreation)(fromFile, info->size);
    }
    static std::vector<uint8_t> head(kHeadSize);  // made once: a card has thousands of pictures
    const platform::Result<size_t> read = file->Read(head.data(), head.size());
    const size_t got = read ? *read : 0;
    file = platform::File();
    if (got == 0) {
        return Status(CaptureStatus::None);
    }
    const bool whole = got < head.size();
    const bool jpeg = got > 2 && head[0] == 0xFF && head[1] == 0xD8;
    // Reading the head from memory costs a fraction of the system calls of Exiv2's own file reads, which
    // is most of the cost on a card of thousands of pictures.
    if (whole || jpeg) {
        const CaptureRead fromHead = CaptureTimeOfBytes(head.data(), got, extension);
        if (fromHead.status != CaptureStatus::None || whole) {
            return fromHead;
        }
    }
    return ReadWith(
        *kind, [&] { return Exiv2::ImageFactory::getType(path); },
        [&] { return Exiv2::ImageFactory::open(path); });
}

}  // namespace transfer
