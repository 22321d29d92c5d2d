// The settings file: a small INI file beside the executable that remembers the two folders and the running
// number. Stateless: every call forms the path again and reads or rewrites the file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class SettingsFile {
public:
    // The file beside the running executable (see platform::SettingsPathFor). When the executable's path
    // can't be found, nothing is read or written: reads give "~" and writes fail.
    SettingsFile();
    // A file of the caller's choice (the command line's --settings, tests).
    explicit SettingsFile(std::string path);

    // The value stored under `key` in section "settings" (names matched without regard to case, blanks around
    // names and values ignored), cut to its first 259 characters; "~" when the file, the section or the key
    // is missing. Never creates the file.
    std::string Read(const std::string& key) const;

    // Stores `value` whole under `key`, creating the file and the section when missing, replacing the key's
    // one line, and leaving every other line of the file as it was. The file is replaced atomically; a
    // failed write leaves the old file untouched and returns false. A value that could not be read back as
    // given (a line break or NUL in it, blanks at either end) is refused and returns false, as is a file
    // that exists but can't be read.
    //
    // A flushed write waits until the new file is on the disk. An unflushed one does not: it is still all or
    // nothing for every reader, but a power failure soon after it may bring back the earlier file. It is for
    // a run of writes, such as the counter after every file of a pass, that ends with Flush().
    enum class Durability { Flushed, Unflushed };
    bool Write(const std::string& key, const std::string& value,
               Durability durability = Durability::Flushed) const;

    // Waits until the file as it stands (and its name in its folder) is on the disk. True when there is
    // nothing to flush.
    bool Flush() const;

    // Where the value that Read would give for `key` stands in `text`, the whole contents of a settings file:
    // its first byte and its length, blanks around it left out (the whole value, not cut to 259). No value
    // when the section or the key is missing. For a caller that changes a value in place.
    struct ValueSpan {
        size_t offset = 0;
        size_t length = 0;
    };
    static std::optional<ValueSpan> LocateValue(std::string_view text, const std::string& key);

    // The path this accessor uses now; empty when there is none.
    std::string Path() const;

    static constexpr const char* kMissing = "~";
    static constexpr size_t kMaxValueLength = 259;

private:
    std::string m_path;  // empty: beside the executable
    bool m_explicit = false;
};
