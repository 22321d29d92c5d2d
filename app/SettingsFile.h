// The settings file: a small INI file beside the executable that remembers the two folders and the running
// number. Stateless: every call forms the path again and reads or rewrites the file.
#pragma once

#include <string>

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
    // failed write leaves the old file untouched and returns false.
    bool Write(const std::string& key, const std::string& value) const;

    // The path this accessor uses now; empty when there is none.
    std::string Path() const;

    static constexpr const char* kMissing = "~";
    static constexpr size_t kMaxValueLength = 259;

  private:
    std::string m_path;  // empty: beside the executable
    bool m_explicit = false;
};
