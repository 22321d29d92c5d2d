// The settings file: a small INI file that remembers the two folders and the running number, shared by tovaro
// and tovaro-cli, beside the programs or in the user's own configuration folder (LocationFor). Stateless:
// every call forms the path again and reads or rewrites the file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Outcome.h"

class SettingsFile {
  public:
    // What the settings-path rule needs to know about the program's folder and the user's own file.
    struct ProgramFolder {
        bool settingsExist = false;  // the settings file beside the program is there already
        // This user may write it, or owns it: one that its owner made read-only stays the settings file (and
        // is not written); one of another user's or of a system install is not this user's to change.
        bool settingsMine = false;
        bool rootOwned = true;        // the folder is root's (a system install such as /usr/bin)
        bool writable = false;        // this user may create files in it
        bool userFileExists = false;  // the user's own settings file is there already
    };
    // Where the user's own settings go, as the environment tells ($XDG_CONFIG_HOME, $HOME).
    struct UserFolders {
        std::string configHome;
        std::string home;
    };
    // The settings file, and while it is not there yet, the file it starts as a copy of.
    struct Location {
        std::string path;  // empty: there is none
        // The file beside the program that the user may not write: read while `path` is missing, and copied
        // into `path` with the first write, so that the numbers go on from it.
        std::string copyOf;
    };

    // The file that LocationFor gives for the running executable; its folder is made on the first write
    // when it is the user's own. When no path can be formed, nothing is read or written: reads give "~" and
    // writes fail.
    SettingsFile();
    // A file of the caller's choice (the command line's --settings, tests).
    explicit SettingsFile(std::string path);
    // A location as LocationFor gives it; its folder is made on the first write.
    explicit SettingsFile(Location location);

    // The value stored under `key` in section "settings" (names matched without regard to case, blanks around
    // names and values ignored), cut to its first 259 characters; "~" when the file, the section or the key
    // is missing. Never creates the file.
    std::string Read(const std::string& key) const;

    // Stores `value` whole under `key`, creating the file and the section when missing, replacing the key's
    // one line, and leaving every other line of the file as it was. The file is replaced atomically; a
    // failed write leaves the old file untouched and says what failed. A value that could not be read back
    // as given (a line break or NUL in it, blanks at either end) is refused (EINVAL), as is a file that
    // exists but can't be read or has no write permission bit set (EACCES); no settings file: ENOENT.
    // The new file is on the disk before it takes the old one's name. Where the folder takes no new file but
    // the file itself may be written, the value is changed in the file and flushed, only where a crash can't
    // tear the file: within the old value's place (and blanks after it) in one 512-byte sector, or when the
    // whole file fits in one sector.
    platform::Status Write(const std::string& key, const std::string& value) const;

    // Whether any value of up to `length` characters could be written under `key` now. False only for a file
    // that may be written in a folder that takes no new file, where such a value would not fit in place.
    bool CanStore(const std::string& key, size_t length) const;

    // Stores every pair the way Write stores one, in one replacement of the file: all of them or none.
    // A failure, with nothing written, when any pair is refused or the write fails.
    using Values = std::vector<std::pair<std::string, std::string>>;
    platform::Status WriteAll(const Values& values) const;

    // Why the file could not give `value` back exactly as given under a key, in plain words; "" when it can.
    // Read gives back at most kMaxValueLength characters, so a longer value is refused too.
    static std::string RefusalOf(std::string_view value);

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

    // Makes the folder that Write would make (the user's own file's folder); Ok when it is there now.
    platform::Status MakeFolder() const;

    // The settings file of a program at `executablePath`: one rule for both programs, so that tovaro and
    // tovaro-cli of one install share one file and one counter. A settings file beside the program is carried
    // along with it: tovaro.ini, or for a program named like PROG.EXE, PROG.ini (its last three characters
    // replaced).
    // - It is there and this user's (settingsMine): it is the settings file, whoever owns the folder.
    // - It is there and not this user's: the user's own file, which starts as a copy of it.
    // - It is not there: one is made beside the program where the user may write in the folder and the
    //   folder is not root's (a portable or per-user install); otherwise the user's own file.
    // The user's own file is tovaro/tovaro.ini in $XDG_CONFIG_HOME, or in ~/.config when that is unset, empty
    // or not an absolute path. The path is empty when the executable's path is, or when the user's file is
    // needed and no home folder is known.
    static Location LocationFor(const std::string& executablePath, const ProgramFolder& folder,
                                const UserFolders& user);

    // Once after a write that made the user's own settings file as a copy of the one beside the program, a
    // sentence for the user that says so; empty otherwise. Any thread.
    static std::string TakeCopyNotice();

    static constexpr const char* kMissing = "~";
    static constexpr size_t kMaxValueLength = 259;

  private:
    Location Where() const;

    Location m_location;
    bool m_explicit = false;    // a path was given, rather than found by LocationFor
    bool m_makeFolders = true;  // the folders on the way are made on the first write
};
