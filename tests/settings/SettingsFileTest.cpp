#include "settings/SettingsFile.h"

#include <gtest/gtest.h>
#include <optional>

#include "tests/support/SysFaults.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

TEST(SettingsFile, AWriteChangesOnlyTheKeysLine) {
    const struct {
        const char* what;
        std::optional<std::string> before;  // no value: no file yet
        const char *key, *value, *after;
    } cases[] = {
        {"NoFileYet", std::nullopt, "todir", "/home/me/Pictures", "[settings]\ntodir=/home/me/Pictures\n"},
        {"EmptyFile", "", "counter", "1", "[settings]\ncounter=1\n"},
        {"SecondKeyGoesAfterTheFirst", "[settings]\ntodir=/a\n", "fromdir", "/b",
         "[settings]\ntodir=/a\nfromdir=/b\n"},
        {"ValueReplacedNeverDoubled", "[settings]\ncounter=7\n", "counter", "8", "[settings]\ncounter=8\n"},
        {"UsersSpellingAndBlanksKept", "[ Settings ]\n  COUNTER =  7  \n", "counter", "8",
         "[ Settings ]\n  COUNTER =  8\n"},
        {"NewKeyStaysInsideItsSection", "[other]\na=1\n[settings]\ntodir=/a\n\n[more]\nb=2\n", "fromdir",
         "/x", "[other]\na=1\n[settings]\ntodir=/a\nfromdir=/x\n\n[more]\nb=2\n"},
        {"SectionWithoutKeys", "[settings]\n\n[other]\n", "counter", "1",
         "[settings]\ncounter=1\n\n[other]\n"},
        {"NewSectionAtTheEndOfAnUnfinishedLine", "[other]\na=1", "counter", "1",
         "[other]\na=1\n[settings]\ncounter=1\n"},
        {"SameKeyInAnotherSectionUntouched", "[other]\ncounter=5\n", "counter", "1",
         "[other]\ncounter=5\n[settings]\ncounter=1\n"},
        {"NewKeyAfterAnUnfinishedLastLine", "[settings]\ntodir=/a", "counter", "2",
         "[settings]\ntodir=/a\ncounter=2\n"},
        {"CommentsAndStrayLinesKept", "; mine\n[settings]\n# x=1\ntodir=/a\nstray line\n", "fromdir", "/b",
         "; mine\n[settings]\n# x=1\ntodir=/a\nfromdir=/b\nstray line\n"},
        {"WindowsLineBreaksKept", "[settings]\r\ntodir=/a\r\ncounter=1\r\n", "counter", "2",
         "[settings]\r\ntodir=/a\r\ncounter=2\r\n"},
        {"WindowsLineBreaksForNewLines", "[settings]\r\ntodir=/a\r\n", "counter", "3",
         "[settings]\r\ntodir=/a\r\ncounter=3\r\n"},
        {"EmptyValue", "[settings]\ncounter=7\n", "counter", "", "[settings]\ncounter=\n"},
        {"ValueWithEqualsAndBlanks", "", "todir", "/a=b c", "[settings]\ntodir=/a=b c\n"},
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
        EXPECT_EQ(SettingsFile(path).Read(c.key), c.value);
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});  // no temporary file left
    }
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
        {"Plain", "[settings]\ntodir=/a\n", "todir", "/a"},
        {"KeyWrittenInCapitals", "[settings]\nFROMDIR=/card\n", "fromdir", "/card"},
        {"SectionInCapitals", "[SETTINGS]\ncounter=3\n", "counter", "3"},
        {"BlanksAroundNamesAndValues", "  [ settings ]  \n\t counter \t=\t 12 \t\n", "counter", "12"},
        {"BlanksInsideAValueKept", "[settings]\ntodir=/my pictures/2026\n", "todir", "/my pictures/2026"},
        {"MissingKey", "[settings]\ntodir=/a\n", "fromdir", "~"},
        {"KeyOfAnotherSection", "[other]\ncounter=5\n[settings]\n", "counter", "~"},
        {"NoSection", "counter=5\n", "counter", "~"},
        {"EmptyValueIsNotMissing", "[settings]\ncounter=\n", "counter", ""},
        {"FirstOfTwoLines", "[settings]\ncounter=1\ncounter=2\n", "counter", "1"},
        {"WindowsLineBreak", "[settings]\r\ntodir=/a\r\n", "todir", "/a"},
        {"CommentedOut", "[settings]\n;counter=4\n", "counter", "~"},
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
            ASSERT_LE(span->offset + span->length, c.contents.size());
            const std::string value = c.contents.substr(span->offset, span->length);
            EXPECT_EQ(value.substr(0, c.expected.size()), c.expected);  // blanks around it left out
            // The whole value, where Read cuts a long one.
            EXPECT_EQ(value.size() > c.expected.size(), c.expected.size() >= SettingsFile::kMaxValueLength);
        }
    }
}

TEST(SettingsFile, ReadingWithoutAFileGivesTheMarkerAndCreatesNothing) {
    TempDir dir;
    const SettingsFile settings(dir / "tovaro.ini");
    for (const char* key : {"fromdir", "todir", "counter"}) {
        EXPECT_EQ(settings.Read(key), "~") << key;
    }
    EXPECT_TRUE(ListNames(dir.Path()).empty());
}

TEST(SettingsFile, ALongValueIsStoredWholeAndReadCut) {
    TempDir dir;
    const SettingsFile settings(dir / "tovaro.ini");
    const std::string value = "/" + std::string(299, 'p');
    EXPECT_TRUE(settings.Write("todir", value));
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), "[settings]\ntodir=" + value + "\n");
    EXPECT_EQ(settings.Read("todir"), value.substr(0, 259));
}

TEST(SettingsFile, ValuesThatWouldNotReadBackAreRefused) {
    TempDir dir;
    const std::string before = "[settings]\ntodir=/a\n";
    WriteFile(dir / "tovaro.ini", before);
    const SettingsFile settings(dir / "tovaro.ini");
    const std::vector<std::string> values = {"/a\n[evil]", "/a\rb", std::string("/a\0b", 4), " /lead",
                                             "/trail "};
    for (const std::string& value : values) {
        EXPECT_FALSE(settings.Write("todir", value)) << value;
    }
    for (const char* key : {"", "a=b", " padded", "[x", "two\nlines"}) {
        EXPECT_FALSE(settings.Write(key, "1")) << key;
    }
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), before);
}

TEST(SettingsFile, AFailedWriteLeavesTheOldFile) {
    const std::pair<const char*, void (*)(platform::SysCalls&)> faults[] = {
        {"WriteFails", [](platform::SysCalls& c) { c.write = Fail<ENOSPC>; }},
        {"OldFileCannotBeRead", [](platform::SysCalls& c) { c.read = Fail<EIO>; }},
    };
    for (const auto& [what, install] : faults) {
        SCOPED_TRACE(what);
        TempDir dir;
        const std::string before = "[settings]\ncounter=7\n[mine]\nkeep=this\n";
        WriteFile(dir / "tovaro.ini", before);
        platform::SysCalls calls = platform::RealSysCalls();
        install(calls);
        {
            platform::ScopedSysCalls scoped(calls);
            EXPECT_FALSE(SettingsFile(dir / "tovaro.ini").Write("counter", "8"));
        }
        EXPECT_EQ(ReadFile(dir / "tovaro.ini"), before);
        EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});
    }
    TempDir dir;
    EXPECT_FALSE(SettingsFile(dir / "missing/tovaro.ini").Write("counter", "1"));
    EXPECT_FALSE(Exists(dir / "missing"));
}

TEST(SettingsFile, LivesBesideAProgramInAFolderOfTheUsersElseInTheUsersConfigFolder) {
    using Folder = SettingsFile::ProgramFolder;
    const Folder writable{false, true, false}, carried{false, false, true}, system{true, true, true},
        othersReadOnly{false, false, false};
    const SettingsFile::UserFolders user{"", "/home/u"};
    const std::string mine = "/home/u/.config/tovaro/tovaro.ini";
    const struct {
        std::string executable;
        Folder folder;
        SettingsFile::UserFolders user;
        std::string settings;
    } cases[] = {
        {"/opt/Photos/PROG.EXE", writable, user, "/opt/Photos/PROG.ini"},
        {"/home/u/.local/bin/tovaro-cli", writable, user, "/home/u/.local/bin/tovaro.ini"},
        {"/media/stick/tool.v2", carried, user, "/media/stick/tovaro.ini"},
        {"/usr/bin/tovaro", system, user, mine},  // even for root, and a file there is not used
        {"/srv/tools/tovaro", othersReadOnly, user, mine},
        {"/usr/bin/tovaro", system, {"/xdg//", "/home/u"}, "/xdg/tovaro/tovaro.ini"},
        {"/usr/bin/tovaro", system, {"xdg", "/home/u/"}, mine},  // a relative one does not count
        {"/usr/bin/tovaro", system, {"", "home/u"}, ""},
        {"/usr/bin/tovaro", system, {"", ""}, ""},
        {"", writable, user, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsFile::DefaultPathFor(c.executable, c.folder, c.user), c.settings)
            << c.executable << " " << c.user.configHome << " " << c.user.home;
    }
    const SettingsFile settings{std::string()};
    EXPECT_EQ(settings.Read("counter"), "~");
    EXPECT_FALSE(settings.Write("counter", "1"));
}

}  // namespace
