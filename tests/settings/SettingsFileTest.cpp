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
        {"ValueReplacedNeverDoubled", "[settings]\ncounter=7\n", "counter", "8", "[settings]\ncounter=8\n"},
        {"UsersSpellingAndBlanksKept", "[ Settings ]\n  COUNTER =  7  \n", "counter", "8",
         "[ Settings ]\n  COUNTER =  8\n"},
        {"NewKeyStaysInsideItsSection", "[other]\ncounter=5\n[settings]\ntodir=/a\n\n[more]\nb=2\n",
         "counter", "1", "[other]\ncounter=5\n[settings]\ntodir=/a\ncounter=1\n\n[more]\nb=2\n"},
        {"NewSectionAtTheEndOfAnUnfinishedLine", "[other]\na=1", "counter", "1",
         "[other]\na=1\n[settings]\ncounter=1\n"},
        {"CommentsAndStrayLinesKept", "; mine\n[settings]\n# x=1\ntodir=/a\nstray line\n", "fromdir", "/b",
         "; mine\n[settings]\n# x=1\ntodir=/a\nfromdir=/b\nstray line\n"},
        {"WindowsLineBreaksKeptAndUsed", "[settings]\r\ntodir=/a\r\n", "counter", "3",
         "[settings]\r\ntodir=/a\r\ncounter=3\r\n"},
        {"ByteOrderMarkKept", kBom + "[settings]\ncounter=7\n", "counter", "8",
         kBom + "[settings]\ncounter=8\n"},
        {"LongValueStoredWhole", "", "todir", std::string(300, 'p'),
         "[settings]\ntodir=" + std::string(300, 'p') + "\n"},
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
