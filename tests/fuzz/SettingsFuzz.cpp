// Fuzz target of the settings file: the input is a key, NUL, a value, NUL, and the file. Once the key is
// written, it reads back as written (or the write was refused and the file is as it was), the other keys
// read as before, and every byte outside the key's own line is as it was.
#include <cstdlib>

#include "platform/File.h"
#include "platform/Text.h"
#include "settings/SettingsFile.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Whether `now` is `old` with the line "key=value" put in where the value now starts at `at`, with the
// section header or the line break before it that it needed.
bool IsOldWithLineAdded(std::string now, const std::string& key, const std::string& value, size_t at,
                        const std::string& old) {
    at -= key.size() + 1;
    const std::string line =
        key + "=" + value + (now.compare(at + key.size() + 1 + value.size(), 2, "\r\n") ? "\n" : "\r\n");
    if (now.compare(at, line.size(), line) != 0) {
        return false;
    }
    now.erase(at, line.size());
    const std::string lineBreak = line.ends_with("\r\n") ? "\r\n" : "\n";
    for (const std::string& before :
         {std::string(), lineBreak, "[settings]" + lineBreak, lineBreak + "[settings]" + lineBreak}) {
        if (at >= before.size() && now.compare(at - before.size(), before.size(), before) == 0 &&
            std::string(now).erase(at - before.size(), before.size()) == old) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        const char* scratch = std::getenv("TOVARO_FUZZ_SCRATCH");  // removed by scripts/fuzz.sh
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
    Require(written || now == old);
    for (int i = 0; i < 3 && written; ++i) {
        Require(platform::EqualIgnoringAsciiCase(others[i], key) || settings.Read(others[i]) == before[i]);
    }
    const auto was = SettingsFile::LocateValue(old, key), is = SettingsFile::LocateValue(now, key);
    if (written && !was) {
        Require(is && IsOldWithLineAdded(now, key, value, is->offset, old));
    } else if (written) {
        // The new value takes the old one's place up to its line's end: blanks after it go with it.
        size_t end = std::min(old.find('\n', was->offset + was->length), old.size());
        end -= end > 0 && end < old.size() && old[end - 1] == '\r' ? 1 : 0;
        Require(now == old.substr(0, was->offset) + value + old.substr(end));
    }
    Require(!written || settings.Read(key) == value.substr(0, SettingsFile::kMaxValueLength));
    return 0;
}
