#include "app/SettingsFile.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <optional>

#include "platform/ExecutablePath.h"
#include "platform/Sys.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& param) {
    return param.param.what;
}

struct WriteCase {
    const char* what;
    std::optional<std::string> before;  // no value: no file yet
    const char* key;
    const char* value;
    const char* after;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.what;
}

class SettingsWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(SettingsWrite, ChangesOnlyTheKeysLine) {
    const WriteCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsWrite,
    testing::Values(
        WriteCase{"NoFileYet", std::nullopt, "todir", "/home/me/Pictures",
                  "[settings]\ntodir=/home/me/Pictures\n"},
        WriteCase{"EmptyFile", "", "counter", "1", "[settings]\ncounter=1\n"},
        WriteCase{"SecondKeyGoesAfterTheFirst", "[settings]\ntodir=/a\n", "fromdir", "/b",
                  "[settings]\ntodir=/a\nfromdir=/b\n"},
        WriteCase{"ValueReplacedNeverDoubled", "[settings]\ncounter=7\n", "counter", "8",
                  "[settings]\ncounter=8\n"},
        WriteCase{"UsersSpellingAndBlanksKept", "[ Settings ]\n  COUNTER =  7  \n", "counter", "8",
                  "[ Settings ]\n  COUNTER =  8\n"},
        WriteCase{"NewKeyStaysInsideItsSection", "[other]\na=1\n[settings]\ntodir=/a\n\n[more]\nb=2\n",
                  "fromdir", "/x", "[other]\na=1\n[settings]\ntodir=/a\nfromdir=/x\n\n[more]\nb=2\n"},
        WriteCase{"SectionWithoutKeys", "[settings]\n\n[other]\n", "counter", "1",
                  "[settings]\ncounter=1\n\n[other]\n"},
        WriteCase{"NewSectionAtTheEndOfAnUnfinishedLine", "[other]\na=1", "counter", "1",
                  "[other]\na=1\n[settings]\ncounter=1\n"},
        WriteCase{"SameKeyInAnotherSectionUntouched", "[other]\ncounter=5\n", "counter", "1",
                  "[other]\ncounter=5\n[settings]\ncounter=1\n"},
        WriteCase{"NewKeyAfterAnUnfinishedLastLine", "[settings]\ntodir=/a", "counter", "2",
                  "[settings]\ntodir=/a\ncounter=2\n"},
        WriteCase{"CommentsAndStrayLinesKept", "; mine\n[settings]\n# x=1\ntodir=/a\nstray line\n", "fromdir",
                  "/b", "; mine\n[settings]\n# x=1\ntodir=/a\nfromdir=/b\nstray line\n"},
        WriteCase{"WindowsLineBreaksKept", "[settings]\r\ntodir=/a\r\ncounter=1\r\n", "counter", "2",
                  "[settings]\r\ntodir=/a\r\ncounter=2\r\n"},
        WriteCase{"WindowsLineBreaksForNewLines", "[settings]\r\ntodir=/a\r\n", "counter", "3",
                  "[settings]\r\ntodir=/a\r\ncounter=3\r\n"},
        WriteCase{"EmptyValue", "[settings]\ncounter=7\n", "counter", "", "[settings]\ncounter=\n"},
        WriteCase{"ValueWithEqualsAndBlanks", "", "todir", "/a=b c", "[settings]\ntodir=/a=b c\n"}),
    CaseName<WriteCase>);

struct ReadCase {
    const char* what;
    std::string contents;
    const char* key;
    std::string expected;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.what;
}

class SettingsRead : public testing::TestWithParam<ReadCase> {};

TEST_P(SettingsRead, FindsTheKeyInItsSection) {
    const ReadCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / "tovaro.ini", c.contents);
    EXPECT_EQ(SettingsFile(dir / "tovaro.ini").Read(c.key), c.expected);
}

// Whoever changes a value in place must find the very bytes that Read gives.
TEST_P(SettingsRead, LocateValuePointsAtWhatReadGives) {
    const ReadCase& c = GetParam();
    const auto span = SettingsFile::LocateValue(c.contents, c.key);
    if (c.expected == SettingsFile::kMissing) {
        EXPECT_FALSE(span.has_value());
        return;
    }
    ASSERT_TRUE(span.has_value());
    ASSERT_LE(span->offset + span->length, c.contents.size());
    const std::string value = c.contents.substr(span->offset, span->length);
    if (c.expected.size() < SettingsFile::kMaxValueLength) {
        EXPECT_EQ(value, c.expected);  // blanks around it left out
    } else {
        EXPECT_EQ(value.substr(0, c.expected.size()), c.expected);
        EXPECT_GT(value.size(), c.expected.size());  // the whole value, not the cut one
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SettingsRead,
    testing::Values(ReadCase{"Plain", "[settings]\ntodir=/a\n", "todir", "/a"},
                    ReadCase{"KeyWrittenInCapitals", "[settings]\nFROMDIR=/card\n", "fromdir", "/card"},
                    ReadCase{"SectionInCapitals", "[SETTINGS]\ncounter=3\n", "counter", "3"},
                    ReadCase{"BlanksAroundNamesAndValues", "  [ settings ]  \n\t counter \t=\t 12 \t\n",
                             "counter", "12"},
                    ReadCase{"BlanksInsideAValueKept", "[settings]\ntodir=/my pictures/2026\n", "todir",
                             "/my pictures/2026"},
                    ReadCase{"MissingKey", "[settings]\ntodir=/a\n", "fromdir", "~"},
                    ReadCase{"KeyOfAnotherSection", "[other]\ncounter=5\n[settings]\n", "counter", "~"},
                    ReadCase{"NoSection", "counter=5\n", "counter", "~"},
                    ReadCase{"EmptyValueIsNotMissing", "[settings]\ncounter=\n", "counter", ""},
                    ReadCase{"FirstOfTwoLines", "[settings]\ncounter=1\ncounter=2\n", "counter", "1"},
                    ReadCase{"WindowsLineBreak", "[settings]\r\ntodir=/a\r\n", "todir", "/a"},
                    ReadCase{"CommentedOut", "[settings]\n;counter=4\n", "counter", "~"},
                    ReadCase{"LongValueCut", "[settings]\ntodir=/" + std::string(299, 'x') + "\n", "todir",
                             "/" + std::string(258, 'x')}),
    CaseName<ReadCase>);

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
    TempDir dir;
    const std::string before = "[settings]\ncounter=7\n";
    WriteFile(dir / "tovaro.ini", before);
    platform::SysCalls calls = platform::RealSysCalls();
    calls.write = [](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    {
        platform::ScopedSysCalls scoped(calls);
        EXPECT_FALSE(SettingsFile(dir / "tovaro.ini").Write("counter", "8"));
    }
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), before);
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"tovaro.ini"});
}

TEST(SettingsFile, AFileThatCannotBeReadIsNotReplaced) {
    TempDir dir;
    const std::string before = "[settings]\ncounter=7\n[mine]\nkeep=this\n";
    WriteFile(dir / "tovaro.ini", before);
    platform::SysCalls calls = platform::RealSysCalls();
    calls.read = [](int, void*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    {
        platform::ScopedSysCalls scoped(calls);
        EXPECT_FALSE(SettingsFile(dir / "tovaro.ini").Write("counter", "8"));
    }
    EXPECT_EQ(ReadFile(dir / "tovaro.ini"), before);
}

TEST(SettingsFile, AMissingFolderIsAFailedWrite) {
    TempDir dir;
    EXPECT_FALSE(SettingsFile(dir / "missing/tovaro.ini").Write("counter", "1"));
    EXPECT_FALSE(Exists(dir / "missing"));
}

TEST(SettingsFile, WithoutAPathNothingIsReadOrWritten) {
    const SettingsFile settings{std::string()};
    EXPECT_EQ(settings.Path(), "");
    EXPECT_EQ(settings.Read("counter"), "~");
    EXPECT_FALSE(settings.Write("counter", "1"));
    EXPECT_TRUE(settings.Flush());
}

TEST(SettingsFile, LivesBesideTheExecutableByDefault) {
    const std::string executable = platform::ExecutablePath();
    ASSERT_FALSE(executable.empty());
    EXPECT_EQ(SettingsFile().Path(), platform::SettingsPathFor(executable));
}

TEST(SettingsFile, UnflushedWritesAreKeptAndFlushedLater) {
    TempDir dir;
    const SettingsFile settings(dir / "tovaro.ini");
    int syncs = 0;
    static int* counted = nullptr;
    counted = &syncs;
    platform::SysCalls calls = platform::RealSysCalls();
    calls.fsync = [](int) -> int {
        ++*counted;
        return 0;
    };
    platform::ScopedSysCalls scoped(calls);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(settings.Write("counter", std::to_string(i), SettingsFile::Durability::Unflushed));
    }
    EXPECT_EQ(syncs, 0);
    EXPECT_EQ(settings.Read("counter"), "3");
    EXPECT_TRUE(settings.Flush());
    EXPECT_EQ(syncs, 2);  // the file and its folder
    EXPECT_TRUE(settings.Write("counter", "4"));
    EXPECT_EQ(syncs, 3);
}

}  // namespace
