#include "settings/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>

#include "platform/File.h"
#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

const std::string kBom = "\xEF\xBB\xBF";

// Where a new key goes (that every other byte stays, and a value reads back as written, the settings file's
// fuzz target checks for any file).
TEST(SettingsFile, AWriteChangesOnlyTheKeysLine) {
    const struct {
        const char* what;
        std::optional<std::string> before;  // no value: no file yet
        const char* key;
        std::string value, after;
    } cases[] = {
        {"NoFileYet", std::nullopt, "todir", "/home/me/Pictures", "[settings]\ntodir=/home/me/Pictures\n"},
        {"SecondKeyGoesAfterTheFirst", "[settings]\ntodir=/a\n", "fromdir", "/b",
         "[settings]\ntodir=/a\nfromdir=/b\n"},
        {"NewKeyStaysInsideItsSection", "[other]\ncounter=5\n[settings]\ntodir=/a\n\n[more]\nb=2\n",
         "counter", "1", "[other]\ncounter=5\n[settings]\ntodir=/a\ncounter=1\n\n[more]\nb=2\n"},
        {"NewSectionAtTheEndOfAnUnfinishedLine", "[other]\na=1", "counter", "1",
         "[other]\na=1\n[settings]\ncounter=1\n"},
        {"WindowsLineBreaksKeptAndUsed", "[settings]\r\ntodir=/a\r\n", "counter", "3",
         "[settings]\r\ntodir=/a\r\ncounter=3\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "tovaro.ini";
        if (c.before) {
            WriteFile(path, *c.before);
        }
        EXPECT_TRUE(SettingsFile(path).Write(c.key, c.value));
        EXPECT_EQ(ReadFile(path), c.after);
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});  // no temporary file left
    }
    TempDir dir;  // a settings file that is a link stays one; its target is replaced
    WriteFile(dir / "real.ini", "");
    ASSERT_EQ(::symlink("real.ini", (dir / "tovaro.ini").c_str()), 0);
    EXPECT_TRUE(SettingsFile(dir / "tovaro.ini").Write("counter", "1"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[settings]\ncounter=1\n");
    EXPECT_TRUE(platform::InfoOfPath(dir / "tovaro.ini", /*followLinks=*/false)->IsSymlink());
}

// Read finds the key in its section, and LocateValue, which a change in place relies on, finds the very
// bytes that Read gives.
TEST(SettingsFile, ReadAndLocateValueFindTheKeyInItsSection) {
    const struct {
        const char* what;
        std::string contents;
        const char* key;
        std::string expected;
    } cases[] = {
        {"KeyAndSectionInCapitals", "[SETTINGS]\nFROMDIR=/card\n", "fromdir", "/card"},
        {"BlanksAroundNamesAndValues", "  [ settings ]  \n\t counter \t=\t 12 \t\n", "counter", "12"},
        {"BlanksInsideAValueKept", "[settings]\ntodir=/my pictures\n", "todir", "/my pictures"},
        {"MissingKey", "[settings]\ntodir=/a\n", "fromdir", "~"},
        {"KeyOfAnotherSection", "[other]\ncounter=5\n[settings]\n", "counter", "~"},
        {"EmptyValueIsNotMissing", "[settings]\ncounter=\n", "counter", ""},
        {"FirstOfTwoLines", "[settings]\ncounter=1\ncounter=2\n", "counter", "1"},
        {"ByteOrderMark", kBom + "[settings]\ncounter=41\n", "counter", "41"},
        {"LongValueCut", "[settings]\ntodir=/" + std::string(299, 'x') + "\n", "todir",
         "/" + std::string(258, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "tovaro.ini", c.contents);
        EXPECT_EQ(SettingsFile(dir / "tovaro.ini").Read(c.key), c.expected);
        const auto span = SettingsFile::LocateValue(c.contents, c.key);
        ASSERT_EQ(span.has_value(), c.expected != SettingsFile::kMissing);
        if (span) {
            EXPECT_EQ(c.contents.substr(span->offset, c.expected.size()), c.expected);
        }
    }
    TempDir dir;
    EXPECT_EQ(SettingsFile(dir / "tovaro.ini").Read("counter"), "~");
    EXPECT_TRUE(ListNames(dir.Path()).empty());  // reading creates nothing
}

// Values that would not read back as given, files that can't be read or may not be written, and writes that
// fail: the file stays as it was, and no temporary file is left.
TEST(SettingsFile, AWriteThatCannotBeDoneRightLeavesTheFile) {
    const struct {
        const char *what, *key;
        std::string value;
        void (*install)(platform::SysCalls&);
        mode_t mode;
    } cases[] = {
        {"LineBreak", "todir", "/a\n[evil]", nullptr, 0644},
        {"Nul", "todir", std::string("/a\0b", 4), nullptr, 0644},
        {"LeadingBlank", "todir", " /lead", nullptr, 0644},
        {"KeyWithEquals", "a=b", "1", nullptr, 0644},
        {"ReadOnlyFile", "counter", "8", nullptr, 0444},
        {"WriteFails", "counter", "8", [](platform::SysCalls& c) { c.write = Fail<ENOSPC>; }, 0644},
        {"FlushFails", "counter", "8", [](platform::SysCalls& c) { c.fsync = Fail<EIO>; }, 0644},
        {"OldFileCannotBeRead", "counter", "8", [](platform::SysCalls& c) { c.read = Fail<EIO>; }, 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string before = "[settings]\ncounter=7\n[mine]\nkeep=this\n";
        WriteFile(dir / "tovaro.ini", before);
        ::chmod((dir / "tovaro.ini").c_str(), c.mode);
        platform::SysCalls calls = platform::RealSysCalls();
        if (c.install != nullptr) {
            c.install(calls);
        }
        {
            platform::ScopedSysCalls scoped(calls);
            EXPECT_FALSE(SettingsFile(dir / "tovaro.ini").Write(c.key, c.value));
        }
        EXPECT_EQ(ReadFile(dir / "tovaro.ini"), before);
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});
    }
}

// The folder facts: the file beside the program is there, is the user's to write, the folder is root's, the
// user may write in it, the user's own file is there.
TEST(SettingsFile, ABesideFileOfTheUsersIsTheSettingsFileElseTheUsersOwnStartsAsItsCopy) {
    const auto facts = [](const char* f) {
        return SettingsFile::ProgramFolder{f[0] == '1', f[1] == '1', f[2] == '1', f[3] == '1', f[4] == '1'};
    };
    const SettingsFile::UserFolders user{"", "/home/u"};
    const std::string mine = "/home/u/.config/tovaro/tovaro.ini";
    const struct {
        std::string executable;
        const char* facts;
        SettingsFile::UserFolders user;
        std::string settings, copyOf;
    } cases[] = {
        {"/opt/tovaro/tovaro", "11100", user, "/opt/tovaro/tovaro.ini", ""},  // unpacked by root, run by root
        {"/media/stick/tool.v2", "11000", user, "/media/stick/tovaro.ini", ""},  // carried along
        {"/opt/tovaro/tovaro", "10110", user, mine, "/opt/tovaro/tovaro.ini"},   // installed for all
        {"/opt/tovaro/tovaro", "10111", user, mine, ""},
        {"/opt/Photos/PROG.EXE", "00010", user, "/opt/Photos/PROG.ini", ""},
        {"/home/u/.local/bin/tovaro-cli", "00010", user, "/home/u/.local/bin/tovaro.ini", ""},
        {"/usr/bin/tovaro", "00110", user, mine, ""},  // even for root
        {"/srv/tools/tovaro", "00000", user, mine, ""},
        {"/usr/bin/tovaro", "00110", {"/xdg//", "/home/u"}, "/xdg/tovaro/tovaro.ini", ""},
        {"/usr/bin/tovaro", "00110", {"xdg", "/home/u/"}, mine, ""},  // a relative one does not count
        {"/usr/bin/tovaro", "00110", {"", "home/u"}, "", ""},
        {"", "11010", user, "", ""},
    };
    for (const auto& c : cases) {
        const SettingsFile::Location where = SettingsFile::LocationFor(c.executable, facts(c.facts), c.user);
        EXPECT_EQ(where.path + "|" + where.copyOf, c.settings + "|" + c.copyOf)
            << c.executable << " " << c.facts;
    }
    const SettingsFile none{std::string()};
    EXPECT_EQ(none.Read("counter"), "~");
    EXPECT_FALSE(none.Write("counter", "1"));
    // The user's own file is read from the one beside the program until the first write makes it, as a copy,
    // which is told once.
    TempDir dir;
    WriteFile(dir / "tovaro.ini", "[settings]\ncounter=41\n; theirs\n");
    const SettingsFile copied({dir / "own/tovaro/tovaro.ini", dir / "tovaro.ini"});
    EXPECT_EQ(copied.Read("counter"), "41");
    EXPECT_TRUE(copied.Write("counter", "42") && copied.Write("todir", "/b"));
    EXPECT_EQ(ReadFile(dir / "own/tovaro/tovaro.ini"), "[settings]\ncounter=42\ntodir=/b\n; theirs\n");
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ncounter=41\n; theirs\n");
    EXPECT_NE(SettingsFile::TakeCopyNotice().find(dir / "own/tovaro/tovaro.ini"), std::string::npos);
    EXPECT_EQ(SettingsFile::TakeCopyNotice(), "");
}

}  // namespace
