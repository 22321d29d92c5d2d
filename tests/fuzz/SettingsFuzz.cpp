// Fuzz target of the settings file: the input is a key, NUL, a value, NUL, and the file. Once the key is
// written, it reads back as written (or the write was refused and the file is as it was), the other keys
// read as before, and every byte outside the key's own line is as it was.
#include <algorithm>
#include <cstdlib>

#include "platform/File.h"
#include "platform/Text.h"
#include "settings/SettingsFile.h"

namespace {

constexpr auto Require = [](bool condition) { return condition ? void() : __builtin_trap(); };

// Whether `now` is `old` with the line "key=value" put in where the value now starts at `at`, with the
// section header or the line break before it that it needed.
bool IsOldWithLineAdded(const std::string& now, const std::string& key, const std::string& value, size_t at,
                        const std::string& old) {
    const std::string lineBreak = now.compare(at + value.size(), 2, "\r\n") ? "\n" : "\r\n";
    const std::string added = key + "=" + value + lineBreak;
    const std::string before[] = {"", lineBreak, "[settings]" + lineBreak,
                                  lineBreak + "[settings]" + lineBreak};
    return std::ranges::any_of(before, [&](const std::string& b) {
        // Where the lines were put in; past the end (wrapped round) when they can't be.
        const size_t from = at - key.size() - 1 - b.size();
        return from <= old.size() && now == old.substr(0, from) + b + added + old.substr(from);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        // Removed by scripts/fuzz.sh.
        const char* scratch = std::getenv("TOVARO_FUZZ_SCRATCH");
        std::string folder = std::string(scratch != nullptr ? scratch : "/tmp") + "/settings-XXXXXX";
        return ::mkdtemp(folder.data()) + std::string("/tovaro.ini");
    }();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t keyEnd = input.find('\0'), valueEnd = input.find('\0', keyEnd + 1);
    if (valueEnd == std::string::npos) {
        return 0;
    }
    const std::string key = input.substr(0, keyEnd), value = input.substr(keyEnd + 1, valueEnd - keyEnd - 1);
    const std::string old = input.substr(valueEnd + 1);
    Require(platform::ReplaceFileContents(path, old).Ok());
    const SettingsFile settings(path);
    std::string others[] = {"fromdir", "todir", "counter"}, before[3];
    for (int i = 0; i < 3; ++i) {
        before[i] = settings.Read(others[i]);
    }
    const bool written = settings.Write(key, value).Ok();
    const std::string now = platform::ReadWholeFile(path).value_or("");
    if (!written) {
        Require(now == old);
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        Require(platform::EqualIgnoringAsciiCase(others[i], key) || settings.Read(others[i]) == before[i]);
    }
    Require(settings.Read(key) == value.substr(0, SettingsFile::kMaxValueLength));
    const auto was = SettingsFile::LocateValue(old, key), is = SettingsFile::LocateValue(now, key);
    if (!was) {
        Require(is && IsOldWithLineAdded(now, key, value, is->offset, old));
    } else {
        // The new value takes the old one's place up to its line's end: blanks after it go with it.
        size_t end = std::min(old.find('\n', was->offset + was->length), old.size());
        end -= end > 0 && end < old.size() && old[end - 1] == '\r' ? 1 : 0;
        Require(now == old.substr(0, was->offset) + value + old.substr(end));
    }
    return 0;
}
