// The settings file: a small INI file that remembers the two folders and the running number, shared by tovaro
// and tovaro-cli, beside the programs or in the user's own configuration folder (DefaultPathFor). Stateless:
// every call forms the path again and reads or rewrites the file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class SettingsFile {
  public:
    // The file that DefaultPathFor gives for the running executable; its folder is made on the first write
    // when it is the user's own. When no path can be formed, nothing is read or written: reads give "~" and
    // writes fail.
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
    // that exists but can't be read or has no write permission bit set.
    // The new file is on the disk before it takes the old one's name.
    bool Write(const std::string& key, const std::string& value) const;

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

    // What the settings-path rule needs to know about the folder that holds the program.
    struct ProgramFolder {
        bool rootOwned = true;       // a system install such as /usr/bin: never written to, not even by root
        bool writable = false;       // this user may create files in it
        bool settingsExist = false;  // the settings file beside the program is there already
    };
    // Where the user's own settings go, as the environment tells ($XDG_CONFIG_HOME, $HOME).
    struct UserFolders {
        std::string configHome;
        std::string home;
    };

    // The settings file of a program at `executablePath`: one rule for both programs, so that tovaro and
    // tovaro-cli of one install share one file and one counter.
    // - Beside the program, when its folder is not root-owned and the file is there already or the user may
    //   write in the folder (a portable or per-user install keeps its settings with it): tovaro.ini, or for a
    //   program named like PROG.EXE, PROG.ini (its last three characters replaced), so a settings file
    //   carried along with such a program keeps its name.
    // - Otherwise the user's own tovaro/tovaro.ini in $XDG_CONFIG_HOME, or in ~/.config when that is unset,
    //   empty or not an absolute path.
    // Empty when the executable's path is empty, or the user's file is needed and no home folder is known.
    static std::string DefaultPathFor(const std::string& executablePath, const ProgramFolder& folder,
                                      const UserFolders& user);

    static constexpr const char* kMissing = "~";
    static constexpr size_t kMaxValueLength = 259;

  private:
    std::string m_path;  // empty: beside the executable
    bool m_explicit = false;
};
