#include "transfer/DatedFolders.h"

#include <array>
#include <cstdio>

namespace transfer {
namespace {

constexpr std::string_view kCodes = "YymdHMS%";

// The text of one code for the local time `t`.
std::string CodeText(char code, const std::tm& t) {
    std::array<char, 16> text{};
    const auto two = [&text](int value) { std::snprintf(text.data(), text.size(), "%02d", value); };
    switch (code) {
        case 'Y':
            std::snprintf(text.data(), text.size(), "%04d", t.tm_year + 1900);
            break;
        case 'y':
            two((t.tm_year + 1900) % 100);
            break;
        case 'm':
            two(t.tm_mon + 1);
            break;
        case 'd':
            two(t.tm_mday);
            break;
        case 'H':
            two(t.tm_hour);
            break;
        case 'M':
            two(t.tm_min);
            break;
        case 'S':
            two(t.tm_sec);
            break;
        default:
            return "%";
    }
    return text.data();
}

// The pattern with its codes replaced, or with every code as "0" to check the literal text alone. Codes give
// digits only, so no "/" and no "." ever comes from a date.
std::string Expand(std::string_view pattern, const std::tm* t) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
        } else {
            const char code = pattern[++i];
            out += t != nullptr ? CodeText(code, *t) : code == '%' ? "%" : "0";
        }
    }
    return out;
}

// The levels of `path` without empty ones, joined by "/".
std::string WithoutEmptyLevels(std::string_view path) {
    std::string out;
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        if (end > at) {
            out.append(out.empty() ? "" : "/").append(path.substr(at, end - at));
        }
        at = end + 1;
    }
    return out;
}

}  // namespace

std::string FolderPatternRefusal(std::string_view pattern) {
    if (pattern.empty()) {
        return {};  // no dated folders
    }
    if (pattern.starts_with('/')) {
        return "it starts with \"/\", which would leave the destination folder";
    }
    if (pattern.find('\0') != std::string_view::npos) {
        return "it holds a NUL character";
    }
    for (size_t at = pattern.find('%'); at != std::string_view::npos; at = pattern.find('%', at + 2)) {
        if (at + 1 == pattern.size() || kCodes.find(pattern[at + 1]) == std::string_view::npos) {
            return "\"" + std::string(pattern.substr(at, 2)) + "\" is not one of %Y %m %d %y %H %M %S %%";
        }
    }
    const std::string levels = WithoutEmptyLevels(Expand(pattern, nullptr));
    for (size_t at = 0; at <= levels.size();) {
        const size_t end = std::min(levels.find('/', at), levels.size());
        const std::string_view level = std::string_view(levels).substr(at, end - at);
        if (level == "." || level == "..") {
            return "its level \"" + std::string(level) + "\" would leave the destination folder";
        }
        at = end + 1;
    }
    return {};
}

std::string ExpandFolderPattern(std::string_view pattern, time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return WithoutEmptyLevels(Expand(pattern, &local));
}

}  // namespace transfer
