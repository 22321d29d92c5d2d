#include "settings/SettingsFile.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ExecutablePath.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "platform/Text.h"

namespace {

constexpr std::string_view kSection = "settings";
constexpr size_t kNone = std::string_view::npos;

// One line of the file as it stands: its text and the line break that ended it ("" for a last line without
// one). Kept apart so that every line we don't change is written back byte for byte.
struct Line {
    std::string_view text;
    std::string_view ending;
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, blanks removed
    std::string_view value;  // key lines: the value, blanks removed
    size_t valueStart = 0;   // key lines: where the value's text starts, after "=" and the blanks after it
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// A UTF-8 byte-order mark, which some editors put before the first line. It is no part of the first line's
// text, and is written back as it was.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        if (newline == kNone) {
            lines.push_back({text, {}});
            break;
        }
        size_t end = newline;
        if (end > 0 && text[end - 1] == '\r') {
            --end;
        }
        lines.push_back({text.substr(0, end), text.substr(end, newline + 1 - end)});
        text.remove_prefix(newline + 1);
    }
    return lines;
}

ParsedLine Parse(std::string_view text) {
    ParsedLine parsed;
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') {
        return parsed;
    }
    if (trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close != kNone) {
            parsed.kind = LineKind::Section;
            parsed.name = Trim(trimmed.substr(1, close - 1));
        }
        return parsed;
    }
    const size_t equals = text.find('=');
    if (equals == kNone || Trim(text.substr(0, equals)).empty()) {
        return parsed;
    }
    parsed.kind = LineKind::Key;
    parsed.name = Trim(text.substr(0, equals));
    parsed.valueStart = equals + 1;
    while (parsed.valueStart < text.size() && IsBlank(text[parsed.valueStart])) {
        ++parsed.valueStart;
    }
    parsed.value = Trim(text.substr(parsed.valueStart));
    return parsed;
}

// Where the key stands in the first "settings" section, and where a new key would go.
struct Lookup {
    size_t header = kNone;   // the section's header line
    size_t keyLine = kNone;  // the first line of the key
    size_t lastKey = kNone;  // the section's last key line
};

Lookup Find(const std::vector<Line>& lines, std::string_view key) {
    Lookup found;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = Parse(lines[i].text);
        if (parsed.kind == LineKind::Section) {
            if (found.header != kNone) {
                break;  // the section ended
            }
            if (platform::EqualIgnoringAsciiCase(parsed.name, kSection)) {
                found.header = i;
            }
        } else if (parsed.kind == LineKind::Key && found.header != kNone) {
            found.lastKey = i;
            if (found.keyLine == kNone && platform::EqualIgnoringAsciiCase(parsed.name, key)) {
                found.keyLine = i;
            }
        }
    }
    return found;
}

// New lines take the break the file already uses, so a file carried over with CR LF stays consistent.
std::string_view LineBreakOf(const std::vector<Line>& lines) {
    return !lines.empty() && lines.front().ending == "\r\n" ? "\r\n" : "\n";
}

std::string WithValue(std::string_view old, std::string_view key, std::string_view value) {
    const std::vector<Line> lines = SplitLines(old);
    const Lookup found = Find(lines, key);
    const std::string_view lineBreak = LineBreakOf(lines);
    const std::string newLine = std::string(key) + "=" + std::string(value);
    const size_t insertAfter = found.lastKey != kNone ? found.lastKey : found.header;

    std::string out(old.starts_with(kByteOrderMark) ? kByteOrderMark : "");
    out.reserve(old.size() + newLine.size() + kSection.size() + 8);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (i == found.keyLine) {
            // Keep the key as the user spelled it and the blanks after "=": only the value changes.
            out.append(line.text.substr(0, Parse(line.text).valueStart)).append(value);
        } else {
            out.append(line.text);
        }
        out.append(line.ending);
        if (found.keyLine == kNone && i == insertAfter) {
            if (line.ending.empty()) {
                out.append(lineBreak);
            }
            out.append(newLine).append(lineBreak);
        }
    }
    if (found.header == kNone) {
        if (!lines.empty() && lines.back().ending.empty()) {
            out.append(lineBreak);
        }
        out.append("[").append(kSection).append("]").append(lineBreak);
        out.append(newLine).append(lineBreak);
    }
    return out;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != kNone;
}

// A key that the file can hold on one line and give back unchanged.
bool IsStorableKey(std::string_view key) {
    return !key.empty() && Trim(key) == key && key.find('=') == kNone && !HasLineBreakOrNul(key) &&
           key.front() != '[' && key.front() != ';' && key.front() != '#';
}

// A value that reads back exactly as written. A line break would split it and turn its tail into lines of
// their own (even a section header); blanks at either end would be lost on reading, so a folder whose name
// ends in a space would come back as a different folder. Such values are refused rather than mangled.
bool IsStorableValue(std::string_view value) {
    return !HasLineBreakOrNul(value) && Trim(value) == value;
}

// The file's current text: "" when there is none yet; a failure when it exists but can't be read, so that a
// write never replaces a file it could not read.
platform::Result<std::string> CurrentText(const std::string& path) {
    platform::Result<std::string> text = platform::ReadWholeFile(path);
    return !text && text.Error().error == ENOENT ? std::string() : std::move(text);
}

// The unit a disk writes whole. Disks with larger sectors write 512-byte runs within them whole as well.
constexpr size_t kSectorSize = 512;

// A change made in the file itself: the bytes to write, and where.
struct InPlace {
    size_t offset = 0;
    std::string bytes;
};

// How `value` goes into the file's text `old` in place, where a crash can't leave a torn file: over the old
// value and the blanks after it, within one 512-byte sector (blanks fill what the new value leaves, and
// reading drops them); or as the whole file, when that fits in one sector, which a disk writes whole (the
// file never gets shorter: blanks after the value again). No value when neither is possible.
std::optional<InPlace> InPlaceChange(const std::string& old, const std::string& key,
                                     const std::string& value) {
    if (const auto span = SettingsFile::LocateValue(old, key)) {
        size_t length = span->length;
        while (span->offset + length < old.size() && old[span->offset + length] == ' ') {
            ++length;
        }
        if (value.size() <= length && length > 0 &&
            span->offset / kSectorSize == (span->offset + length - 1) / kSectorSize) {
            std::string bytes = value;
            bytes.resize(length, ' ');
            return InPlace{span->offset, std::move(bytes)};
        }
    }
    std::string whole = WithValue(old, key, value);
    if (whole.size() < old.size()) {
        whole = WithValue(old, key, value + std::string(old.size() - whole.size(), ' '));
    }
    if (whole.size() > kSectorSize) {
        return std::nullopt;
    }
    return InPlace{0, std::move(whole)};
}

// Changes the value in the file itself and waits for it to reach the disk, when the file still holds `old`
// (else `refused`).
platform::Status WriteInPlace(const std::string& path, const std::string& old, const std::string& key,
                              const std::string& value, const platform::Status& refused) {
    const std::optional<InPlace> change = InPlaceChange(old, key, value);
    platform::Result<platform::File> file = platform::File::OpenForReadWrite(platform::LinkTarget(path));
    const platform::Result<std::string> now = change && file ? platform::ReadToEnd(*file) : file.Error();
    if (!change || !now || *now != old) {
        return change && !now ? now.Error() : refused.Error();
    }
    const platform::Status written =
        file->WriteAt(change->offset, change->bytes.data(), change->bytes.size());
    return written ? file->Sync() : written;
}

// The settings file beside a program at `executablePath`.
std::string BesideProgram(const std::string& executablePath) {
    const std::string name = platform::NameOf(executablePath);
    const size_t n = name.size();
    if (n > 4 && name[n - 4] == '.' && name.find('.', n - 3) == std::string::npos) {
        return executablePath.substr(0, executablePath.size() - 3) + "ini";
    }
    return platform::JoinPath(platform::FolderOf(executablePath), "tovaro.ini");
}

// A folder from the environment without the "/" at its end ("" for the root); no value for a relative or
// missing one, which would make the settings file depend on the working folder.
std::optional<std::string> AbsoluteFolder(std::string folder) {
    if (!folder.starts_with('/')) {
        return std::nullopt;
    }
    while (folder.ends_with('/')) {
        folder.pop_back();
    }
    return folder;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The user's own settings file; empty when no home folder is known.
std::string UserSettingsPath(const SettingsFile::UserFolders& user) {
    std::optional<std::string> config = AbsoluteFolder(user.configHome);
    if (!config) {
        const std::optional<std::string> home = AbsoluteFolder(user.home);
        if (!home) {
            return {};
        }
        config = *home + "/.config";
    }
    return *config + "/tovaro/tovaro.ini";
}

// The rule applied to the running program. A folder whose owner can't be learnt counts as a system one, so
// that nothing is made beside a program that might be shared.
SettingsFile::Location LocationOfThisProgram() {
    const std::string executable = platform::ExecutablePath();
    if (executable.empty()) {
        return {};
    }
    const std::string beside = BesideProgram(executable);
    const std::string folder = platform::FolderOf(beside);
    const SettingsFile::UserFolders user{Environment("XDG_CONFIG_HOME"), Environment("HOME")};
    SettingsFile::ProgramFolder facts;
    const auto info = platform::InfoOfPath(folder);
    facts.rootOwned = !info || info->owner == 0;
    facts.writable = ::access(folder.c_str(), W_OK | X_OK) == 0;
    const auto settings = platform::InfoOfPath(beside);
    facts.settingsExist = settings.Ok();
    facts.settingsMine = settings && (settings->owner == ::geteuid() || ::access(beside.c_str(), W_OK) == 0);
    const std::string mine = UserSettingsPath(user);
    facts.userFileExists = !mine.empty() && platform::InfoOfPath(mine).Ok();
    return SettingsFile::LocationFor(executable, facts, user);
}

std::mutex g_noticeLock;
std::string g_copyNotice;

// Makes the missing folders on the way to the file (the user's configuration folder, on the first write),
// for the user alone, as is usual for configuration.
platform::Status MakeFoldersFor(const std::string& path) {
    const std::string folder = platform::FolderOf(path);
    if (platform::InfoOfPath(folder)) {
        return {};
    }
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        if (::mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) {
            return platform::Failure::Now("mkdir", folder.substr(0, slash));
        }
        if (slash == kNone) {
            return {};
        }
    }
}

}  // namespace

SettingsFile::SettingsFile() = default;

SettingsFile::SettingsFile(std::string path)
    : m_location{std::move(path), {}}, m_explicit(true), m_makeFolders(false) {}

SettingsFile::SettingsFile(Location location) : m_location(std::move(location)), m_explicit(true) {}

SettingsFile::Location SettingsFile::Where() const {
    // Formed afresh for every call: nothing about the file is cached.
    return m_explicit ? m_location : LocationOfThisProgram();
}

std::string SettingsFile::Path() const {
    return Where().path;
}

std::string SettingsFile::Read(const std::string& key) const {
    const Location where = Where();
    platform::Result<std::string> text =
        where.path.empty() ? platform::Failure{ENOENT, "open"} : platform::ReadWholeFile(where.path);
    if (!text && !where.copyOf.empty() && text.Error().error == ENOENT) {
        text = platform::ReadWholeFile(where.copyOf);
    }
    if (!text) {
        return kMissing;
    }
    const std::vector<Line> lines = SplitLines(*text);
    const Lookup found = Find(lines, key);
    if (found.keyLine == kNone) {
        return kMissing;
    }
    return std::string(Parse(lines[found.keyLine].text).value.substr(0, kMaxValueLength));
}

std::optional<SettingsFile::ValueSpan> SettingsFile::LocateValue(std::string_view text,
                                                                 const std::string& key) {
    const std::vector<Line> lines = SplitLines(text);
    const Lookup found = Find(lines, key);
    if (found.keyLine == kNone) {
        return std::nullopt;
    }
    const std::string_view line = lines[found.keyLine].text;
    const ParsedLine parsed = Parse(line);
    // The lines are views into `text`, so the line's place in it is the distance between their starts.
    const auto lineStart = static_cast<size_t>(line.data() - text.data());
    return ValueSpan{lineStart + parsed.valueStart, parsed.value.size()};
}

SettingsFile::Location SettingsFile::LocationFor(const std::string& executablePath,
                                                 const ProgramFolder& folder, const UserFolders& user) {
    if (executablePath.empty()) {
        return {};
    }
    const std::string beside = BesideProgram(executablePath);
    if (folder.settingsExist ? folder.settingsMine : !folder.rootOwned && folder.writable) {
        return {beside, {}};
    }
    const std::string mine = UserSettingsPath(user);
    return {mine, folder.settingsExist && !folder.userFileExists ? beside : std::string()};
}

std::string SettingsFile::TakeCopyNotice() {
    const std::lock_guard lock(g_noticeLock);
    return std::exchange(g_copyNotice, {});
}

platform::Status SettingsFile::MakeFolder() const {
    const std::string path = Path();
    if (path.empty()) {
        return platform::Failure{ENOENT, "open"};
    }
    if (m_makeFolders) {
        return MakeFoldersFor(path);
    }
    const auto folder = platform::InfoOfPath(platform::FolderOf(path));
    return folder ? platform::Status() : folder.Error();
}

platform::Status SettingsFile::Write(const std::string& key, const std::string& value) const {
    return WriteAll({{key, value}});
}

platform::Status SettingsFile::WriteAll(const Values& values) const {
    const Location where = Where();
    const std::string& path = where.path;
    const platform::Status made = path.empty()    ? platform::Failure{ENOENT, "open"}
                                  : m_makeFolders ? MakeFoldersFor(path)
                                                  : platform::Status();
    if (!made) {
        return made;
    }
    for (const auto& [key, value] : values) {
        if (!IsStorableKey(key) || !IsStorableValue(value)) {
            return platform::Failure{EINVAL, "write"};
        }
    }
    // A settings file that its owner made read-only is left as it is, even where the process could replace
    // it.
    const auto info = platform::InfoOfPath(platform::LinkTarget(path));
    if (info && info->IsWriteProtected()) {
        return platform::Failure{EACCES, "open"};
    }
    // The user's own file starts as a copy of the one beside the program, which stays as it is.
    const bool copying = !info && !where.copyOf.empty();
    const platform::Result<std::string> old = CurrentText(copying ? where.copyOf : path);
    if (!old) {
        return old.Error();
    }
    std::string updated = *old;
    for (const auto& [key, value] : values) {
        updated = WithValue(updated, key, value);
    }
    if (!copying && updated == *old) {
        return {};
    }
    const platform::Status replaced = platform::ReplaceFileContents(path, updated);
    if (replaced && copying) {
        const std::lock_guard lock(g_noticeLock);
        g_copyNotice = "Your settings are now kept in " + path + ", which starts as a copy of " +
                       where.copyOf + " (you may not change that one).";
    }
    // A folder that takes no new file (a settings file carried along in a folder the user may not write):
    // the file itself may still take a change of one value.
    const int error = replaced.Error().error;
    return replaced || copying || values.size() != 1 || (error != EACCES && error != EPERM)
               ? replaced
               : WriteInPlace(path, *old, values.front().first, values.front().second, replaced);
}

bool SettingsFile::CanStore(const std::string& key, size_t length) const {
    const std::string path = platform::LinkTarget(Path());
    if (path.empty() || !platform::File::OpenForReadWrite(path)) {
        return true;  // not a file that only takes changes in place; a failed write is told as usual
    }
    std::string probe;
    const platform::Result<platform::File> made = platform::CreateTemporaryBeside(path, &probe);
    if (made) {
        platform::Sys().unlink(probe.c_str());
    }
    if (made || (made.Error().error != EACCES && made.Error().error != EPERM)) {
        return true;
    }
    const platform::Result<std::string> old = CurrentText(path);
    return old && InPlaceChange(*old, key, std::string(length, '0'));
}

std::string SettingsFile::RefusalOf(std::string_view value) {
    if (HasLineBreakOrNul(value)) {
        return "it holds a line break";
    }
    if (Trim(value) != value) {
        return "it starts or ends with a blank";
    }
    if (value.size() > kMaxValueLength) {
        return "it is longer than " + std::to_string(kMaxValueLength) + " characters";
    }
    return {};
}
