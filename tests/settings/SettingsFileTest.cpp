#include "settings/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tuple>

#include "platform/File.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

// A folder of the test's own, and the settings file's path in it.
struct Folder : TempDir {
    const std::string ini = *this / "tovaro.ini";
};

// Where a new key goes (that every other byte stays, and a value reads back as written, the settings file's
// fuzz target checks for any file; that a file replaced leaves no temporary one, the counter keeper's test).
TEST(SettingsFile, AWriteChangesOnlyTheKeysLine) {
    // The file before ("-": none yet), the key, its value, the file after.
    const std::tuple<std::string, const char*, const char*, std::string> cases[] = {
        {"-", "todir", "/home/me/Pictures", "[settings]\ntodir=/home/me/Pictures\n"},
        // inside its own section
        {"[other]\ncounter=5\n[settings]\ntodir=/a\n\n[more]\nb=2\n", "counter", "1",
         "[other]\ncounter=5\n[settings]\ntodir=/a\ncounter=1\n\n[more]\nb=2\n"},
        // an unfinished line, in a file whose lines end in CR LF
        {"[other]\r\na=1", "counter", "1", "[other]\r\na=1\r\n[settings]\r\ncounter=1\r\n"},
    };
    for (const auto& [before, key, value, after] : cases) {
        Folder dir;
        if (before != "-") {
            WriteFile(dir.ini, before);
        }
        EXPECT_TRUE(SettingsFile(dir.ini).Write(key, value));
        EXPECT_EQ(ReadFile(dir.ini), after);
    }
    // A settings file that is a link stays one; its target is replaced.
    Folder dir;
    WriteFile(dir / "real.ini", "");
    ASSERT_EQ(::symlink("real.ini", dir.ini.c_str()), 0);
    EXPECT_TRUE(SettingsFile(dir.ini).Write("counter", "1"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[settings]\ncounter=1\n");
    EXPECT_TRUE(platform::InfoOfPath(dir.ini, /*followLinks=*/false)->IsSymlink());
}

// Read finds the key in its section. (That LocateValue, which a change in place relies on, finds the very
// bytes that Read gives: the settings file's fuzz target, which writes there and reads back.)
TEST(SettingsFile, ReadFindsTheKeyInItsSection) {
    const std::tuple<std::string, const char*, std::string> cases[] = {
        // a byte order mark; any case
        {"\xEF\xBB\xBF[SETTINGS]\nFROMDIR=/card\n", "fromdir", "/card"},
        // blanks around the names and the value; the first in its own section
        {"[other]\ntodir=/o\n  [ settings ]  \n\t todir \t=\t /my pictures \t\ntodir=/b\n", "todir",
         "/my pictures"},
        // missing; empty is not missing
        {"[settings]\ntodir=/a\n", "fromdir", "~"},
        {"[settings]\ncounter=\n", "counter", ""},
        {"[settings]\ntodir=/" + std::string(299, 'x') + "\n", "todir", "/" + std::string(258, 'x')},
    };
    for (const auto& [contents, key, expected] : cases) {
        Folder dir;
        WriteFile(dir.ini, contents);
        EXPECT_EQ(SettingsFile(dir.ini).Read(key), expected);
    }
    Folder dir;
    EXPECT_EQ(SettingsFile(dir.ini).Read("counter"), "~");
    // Reading creates nothing.
    EXPECT_TRUE(ListNames(dir.Path()).empty());
}

// A value with a NUL byte (which the fuzz target's input can't hold), and a file its owner made read-only:
// the file stays as it was, and no temporary file is left. (Other values that would not read back as given:
// the settings file's fuzz target. Reads, writes and flushes that fail: the fault sweep, whose Number passes
// keep the counter in the settings file.)
TEST(SettingsFile, AWriteThatCannotBeDoneRightLeavesTheFile) {
    for (const std::string& value : {std::string("/a\0b", 4), std::string("8")}) {
        Folder dir;
        WriteFile(dir.ini, "[settings]\ncounter=7\n");
        // Root may write it, but won't.
        ::chmod(dir.ini.c_str(), value == "8" ? 0444 : 0644);
        EXPECT_FALSE(SettingsFile(dir.ini).Write("counter", value));
        EXPECT_EQ(ReadFile(dir.ini), "[settings]\ncounter=7\n");
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});
    }
}

// The folder facts: the file beside the program is there, is the user's to write, the folder is root's, the
// user may write in it, the user's own file is there.
TEST(SettingsFile, ABesideFileOfTheUsersIsTheSettingsFileElseTheUsersOwnStartsAsItsCopy) {
    const std::string mine = "/home/u/.config/tovaro/tovaro.ini";
    // The rule run by root beside a program in a root-owned folder, with and without a settings file of
    // root's there: the install test.
    const struct {
        std::string executable;
        SettingsFile::ProgramFolder facts;
        // The settings file and the file it starts as a copy of.
        std::string settings, copyOf = "";
        SettingsFile::UserFolders user = {"", "/home/u"};
    } cases[] = {
        // carried along; installed for all
        {"/media/stick/TOOL.EXE", {1, 1, 0, 0, 0}, "/media/stick/TOOL.ini"},
        {"/opt/tovaro/tovaro", {1, 0, 1, 1, 0}, mine, "/opt/tovaro/tovaro.ini"},
        {"/opt/tovaro/tovaro", {1, 0, 1, 1, 1}, mine},
        {"/home/u/.local/bin/tovaro-cli", {0, 0, 0, 1, 0}, "/home/u/.local/bin/tovaro.ini"},
        {"/srv/tools/tovaro", {0, 0, 0, 0, 0}, mine},
        {"/usr/bin/tovaro", {0, 0, 1, 1, 0}, "/xdg/tovaro/tovaro.ini", "", {"/xdg//", "/home/u"}},
        // a relative one does not count
        {"/usr/bin/tovaro", {0, 0, 1, 1, 0}, mine, "", {"xdg", "/home/u/"}},
        {"/usr/bin/tovaro", {0, 0, 1, 1, 0}, "", "", {"", "home/u"}},
        {"", {1, 1, 0, 1, 0}, ""},
    };
    for (const auto& c : cases) {
        const SettingsFile::Location where = SettingsFile::LocationFor(c.executable, c.facts, c.user);
        EXPECT_EQ(where.path + "|" + where.copyOf, c.settings + "|" + c.copyOf) << c.executable;
    }
    const SettingsFile none{std::string()};
    EXPECT_EQ(none.Read("counter"), "~");
    EXPECT_FALSE(none.Write("counter", "1"));
    // The user's own file is read from the one beside the program until the first write makes it, as a copy,
    // which is told once.
    Folder dir;
    const std::string own = dir / "own/tovaro/tovaro.ini";
    WriteFile(dir.ini, "[settings]\ncounter=41\n; theirs\n");
    const SettingsFile copied({own, dir.ini});
    EXPECT_EQ(copied.Read("counter"), "41");
    EXPECT_TRUE(copied.Write("counter", "42") && copied.Write("todir", "/b"));
    EXPECT_EQ(ReadFile(own), "[settings]\ncounter=42\ntodir=/b\n; theirs\n");
    EXPECT_EQ(ReadFile(dir.ini), "[settings]\ncounter=41\n; theirs\n");
    EXPECT_NE(SettingsFile::TakeCopyNotice().find(own), std::string::npos);
    EXPECT_EQ(SettingsFile::TakeCopyNotice(), "");
}

}  // namespace
