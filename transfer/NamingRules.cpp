#include "transfer/NamingRules.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/Text.h"
#include "platform/Time.h"

namespace transfer {
namespace {

using namespace std::string_view_literals;

constexpr std::array kMoveExtensions = {".bmp"sv, ".gif"sv,  ".jpeg"sv, ".avi"sv,
                                        ".mpg"sv, ".mpeg"sv, ".wmv"sv,  ".jpg"sv};
constexpr std::array kArchiveExtensions = {".bmp"sv, ".gif"sv, ".jpeg"sv, ".jpg"sv};

constexpr std::array kRawExtensions = {".arw"sv, ".cr2"sv, ".cr3"sv, ".dng"sv, ".nef"sv, ".nrw"sv,
                                       ".orf"sv, ".pef"sv, ".raf"sv, ".rw2"sv, ".srw"sv};

// What cameras and phones write besides the default lists' kinds.
constexpr std::array kOtherPictureExtensions = {".heic"sv, ".heif"sv, ".hif"sv,  ".png"sv,
                                                ".tif"sv,  ".tiff"sv, ".webp"sv, ".avif"sv};
constexpr std::array kVideoExtensions = {".avi"sv, ".mpg"sv, ".mpeg"sv, ".wmv"sv, ".mp4"sv,
                                         ".mov"sv, ".mts"sv, ".m2ts"sv, ".3gp"sv, ".mkv"sv};
// The set that one tick in Options adds to the lists.
constexpr std::array kTodaysPictureExtensions = {".heic"sv, ".png"sv, ".arw"sv, ".cr2"sv,         ".cr3"sv,
                                                 ".dng"sv,  ".nef"sv, ".nrw"sv, ".orf"sv,         ".pef"sv,
                                                 ".raf"sv,  ".rw2"sv, ".srw"sv, kSidecarExtension};
constexpr std::array kTodaysVideoExtensions = {".mp4"sv, ".mov"sv, ".mts"sv};

constexpr std::string_view kSeparator = " -";

std::string WithoutChars(std::string_view text, std::string_view unwanted) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (unwanted.find(c) == std::string_view::npos) {
            kept.push_back(c);
        }
    }
    return kept;
}

std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement) {
    if (find.empty()) {
        return std::string(text);
    }
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(find); at != std::string_view::npos; at = text.find(find, from)) {
        out.append(text.substr(from, at - from)).append(replacement);
        from = at + find.size();
    }
    out.append(text.substr(from));
    return out;
}

}  // namespace

std::span<const std::string_view> MoveExtensions() {
    return kMoveExtensions;
}

std::span<const std::string_view> ArchiveExtensions() {
    return kArchiveExtensions;
}

std::span<const std::string_view> RawExtensions() {
    return kRawExtensions;
}

bool IsVideoKind(std::string_view extension) {
    return IsAccepted(extension, kVideoExtensions);
}

bool IsCameraKind(std::string_view extension) {
    return IsAccepted(extension, kArchiveExtensions) || IsAccepted(extension, kOtherPictureExtensions) ||
           IsAccepted(extension, kRawExtensions) || IsVideoKind(extension);
}

std::span<const std::string_view> TodaysPictureExtensions() {
    return kTodaysPictureExtensions;
}

std::span<const std::string_view> TodaysVideoExtensions() {
    return kTodaysVideoExtensions;
}

ExtensionList ParseExtensionList(std::string_view text) {
    ExtensionList list;
    constexpr std::string_view kBetween = " \t,";
    for (size_t at = text.find_first_not_of(kBetween); at != std::string_view::npos;
         at = text.find_first_not_of(kBetween, at)) {
        const size_t end = std::min(text.find_first_of(kBetween, at), text.size());
        const std::string entry(text.substr(at, end - at));
        if (entry.front() != '.' || entry.size() == 1 || entry.find('/') != std::string::npos) {
            list.extensions.clear();
            list.error = "\"" + entry +
                         "\" is not an extension: each one starts with \".\", as in .jpg, and has no \"/\"";
            return list;
        }
        list.extensions.push_back(platform::AsciiLowered(entry));
        at = end;
    }
    return list;
}

std::string SelectionExtension(std::string_view name) {
    const size_t dot = name.find('.');
    return platform::AsciiLowered(dot == std::string_view::npos ? name : name.substr(dot));
}

bool IsAccepted(std::string_view extension, std::span<const std::string_view> accepted) {
    for (std::string_view candidate : accepted) {
        if (candidate == extension) {
            return true;
        }
    }
    return false;
}

bool ComesBeforeInNameOrder(std::string_view a, std::string_view b) {
    const auto folded = [](char c) {
        return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    };
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        if (folded(a[i]) != folded(b[i])) {
            return folded(a[i]) < folded(b[i]);
        }
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string FileTitle(std::string_view name) {
    const size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::optional<int32_t> ParseDialogInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    const bool negative = i < text.size() && text[i] == '-';
    if (negative) {
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // Gathered as a magnitude in 64 bits; the loop stops as soon as it leaves the 32-bit range.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

int32_t ReadDialogInt(std::string_view text) {
    return ParseDialogInt(text).value_or(0);
}

std::string FormatDialogInt(int32_t number) {
    return std::to_string(number);
}

int32_t NextNumber(int32_t number) {
    // Unsigned arithmetic wraps by definition; the conversion back is modular in C++20.
    return static_cast<int32_t>(static_cast<uint32_t>(number) + 1u);
}

std::string ComposeNewName(std::string_view title, std::string_view extension, NameOption option,
                           time_t creationTime, NamingInputs& inputs, int32_t& passNumber) {
    std::string name(title);
    switch (option) {
        case kNameText:
            name.append(kSeparator).append(WithoutChars(inputs.Text(), "/\\"));
            break;
        case kNameDate:
            name.append(kSeparator).append(WithoutChars(platform::LocalDateMMDDYY(creationTime), "/"));
            break;
        case kNameNumber: {
            const int32_t number = ReadDialogInt(inputs.NumberText());
            name.append(kSeparator).append(FormatDialogInt(number));
            passNumber = NextNumber(number);
            inputs.SetNumberText(FormatDialogInt(passNumber));
            break;
        }
        case kNameRename:
            name = ReplaceAll(title, inputs.RenameFind(), inputs.RenameNew());
            break;
        default:  // Nothing, or no option chosen
            break;
    }
    return name.append(extension);
}

std::string UnsafeNameReason(std::string_view name) {
    if (name == "." || name == "..") {
        return "the new name \"" + std::string(name) + "\" names a folder, not a file";
    }
    if (name.find('/') != std::string_view::npos) {
        return "the new name contains \"/\", which would put the file into another folder";
    }
    if (name.find('\0') != std::string_view::npos) {
        return "the new name contains a NUL byte";
    }
    return {};
}

}  // namespace transfer
