#include "transfer/NamingRules.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "settings/SettingsFile.h"
#include "tests/support/TempDir.h"

using namespace testsupport;
using namespace transfer;

namespace {

constexpr time_t kDecember5th2026Noon = 1796472000;  // 2026-12-05 12:00 UTC
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// The date cases run in a known time zone, whatever the machine's.
const bool kUtc = (::setenv("TZ", "UTC", 1), ::tzset(), true);

// The new name of one entry, as a pass composes it.
std::string NewName(const std::string& entryName, NameOption option, NamingInputs& inputs,
                    time_t created = 0) {
    int32_t passNumber = 0;
    return ComposeNewName(FileTitle(entryName), SelectionExtension(entryName), option, created, inputs,
                          passNumber);
}

struct NamingCase {
    const char* what;
    NameOption option;
    PlainNamingInputs inputs;
    const char* entry;
    const char* expected;
};

PlainNamingInputs Text(const char* text) {
    PlainNamingInputs inputs;
    inputs.text = text;
    return inputs;
}

PlainNamingInputs Rename(const char* find, const char* replacement) {
    PlainNamingInputs inputs;
    inputs.renameFind = find;
    inputs.renameNew = replacement;
    return inputs;
}

PlainNamingInputs Number(const char* shown) {
    PlainNamingInputs inputs;
    inputs.numberText = shown;
    inputs.numberChecked = true;
    return inputs;
}

class ComposeNewNameTest : public testing::TestWithParam<NamingCase> {};

TEST_P(ComposeNewNameTest, GivesTheExpectedName) {
    NamingCase c = GetParam();
    EXPECT_EQ(NewName(c.entry, c.option, c.inputs, kDecember5th2026Noon), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ComposeNewNameTest,
    testing::Values(
        NamingCase{"Nothing", kNameNothing, {}, "IMG_0001.JPG", "IMG_0001.jpg"},
        NamingCase{"TextWithoutSlashes", kNameText, Text("Trip/2026\\Beach"), "IMG_0001.JPG",
                   "IMG_0001 -Trip2026Beach.jpg"},
        NamingCase{"EmptyText", kNameText, Text(""), "IMG_0001.JPG", "IMG_0001 -.jpg"},
        NamingCase{"Date", kNameDate, {}, "IMG_0001.JPG", "IMG_0001 -120526.jpg"},
        NamingCase{"NumberNotStoredYet", kNameNumber, Number("~"), "IMG_0001.JPG", "IMG_0001 -0.jpg"},
        NamingCase{"NegativeNumber", kNameNumber, Number("-3"), "photo.jpg", "photo --3.jpg"},
        NamingCase{"RenamePrefix", kNameRename, Rename("IMG_", "Rome_"), "IMG_0001.JPG", "Rome_0001.jpg"},
        NamingCase{"RenameEveryOccurrence", kNameRename, Rename("0", "x"), "IMG_0001.JPG", "IMG_xxx1.jpg"},
        NamingCase{"RenameEmptyFind", kNameRename, Rename("", "x"), "IMG_0001.JPG", "IMG_0001.jpg"},
        NamingCase{"EmptyTitle", kNameNothing, {}, ".jpg", ".jpg"},
        NamingCase{"TextBothSlashes", kNameText, Text("a/b\\c"), "photo.jpg", "photo -abc.jpg"},
        NamingCase{"TextOtherCharactersKept", kNameText, Text("a:b"), "photo.jpg", "photo -a:b.jpg"},
        NamingCase{"RenameWithoutOverlaps", kNameRename, Rename("aa", "b"), "aaa.jpg", "ba.jpg"},
        NamingCase{"RenameNeverTouchesTheExtension", kNameRename, Rename("jpg", "png"), "photo.JPG",
                   "photo.jpg"},
        NamingCase{"RenameInsertedTextNotSearchedAgain", kNameRename, Rename("a", "aa"), "aba.jpg",
                   "aabaa.jpg"},
        NamingCase{"RenameToNothing", kNameRename, Rename("IMG_", ""), "IMG_0001.JPG", "0001.jpg"},
        NamingCase{"RenameRespectsCase", kNameRename, Rename("img", "x"), "IMG_0001.JPG", "IMG_0001.jpg"},
        NamingCase{"UnknownOptionChangesNothing", 7, Text("x"), "IMG_0001.JPG", "IMG_0001.jpg"},
        NamingCase{"NegativeOptionChangesNothing", -1, Text("x"), "IMG_0001.JPG", "IMG_0001.jpg"}),
    [](const testing::TestParamInfo<NamingCase>& param) { return std::string(param.param.what); });

TEST(ComposeNewName, EachNumberedFileUsesUpTheNumberShownThenAndTheNumberWraps) {
    PlainNamingInputs inputs = Number("41");
    int32_t passNumber = 0;
    EXPECT_EQ(ComposeNewName("IMG_0001", ".jpg", kNameNumber, 0, inputs, passNumber), "IMG_0001 -41.jpg");
    EXPECT_EQ(inputs.numberText, "42");
    EXPECT_EQ(ComposeNewName("IMG_0002", ".jpg", kNameNumber, 0, inputs, passNumber), "IMG_0002 -42.jpg");
    EXPECT_EQ(passNumber, 43);
    inputs.numberText = "2147483647";  // read afresh for every file, as a window's number box may change
    EXPECT_EQ(ComposeNewName("a", ".jpg", kNameNumber, 0, inputs, passNumber), "a -2147483647.jpg");
    EXPECT_EQ(inputs.numberText, "-2147483648");
    EXPECT_EQ(passNumber, kMin);
    EXPECT_EQ(ComposeNewName("b", ".jpg", kNameNumber, 0, inputs, passNumber), "b --2147483648.jpg");
    EXPECT_EQ(inputs.numberText, "-2147483647");
    EXPECT_EQ(NextNumber(-1), 0);
    for (NameOption option : {kNameNothing, kNameText, kNameDate, kNameRename}) {
        ComposeNewName("a", ".jpg", option, 0, inputs, passNumber);
        EXPECT_EQ(inputs.numberText, "-2147483647") << "only Number uses up a number";
    }
}

TEST(ReadDialogInt, ReadsOnlyPlainSignedDecimals) {
    const std::vector<std::pair<const char*, int32_t>> cases = {
        {"41", 41},
        {"0", 0},
        {"  7", 7},
        {"\t9", 9},
        {"-3", -3},
        {"  -12", -12},
        {"007", 7},
        {"2147483647", kMax},
        {"-2147483648", kMin},
        {"2147483648", 0},
        {"-2147483649", 0},
        {"99999999999999999999999", 0},
        {"~", 0},
        {"", 0},
        {"   ", 0},
        {"-", 0},
        {"+5", 0},
        {"12a", 0},
        {"7 ", 0},
        {"- 5", 0},
        {"1e3", 0},
        {"0x10", 0},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ReadDialogInt(text), expected) << '"' << text << '"';
        EXPECT_EQ(ParseDialogInt(text).has_value(), expected != 0 || std::string(text) == "0") << text;
    }
}

TEST(SelectionExtension, RunsFromTheFirstDotLowerCased) {
    EXPECT_EQ(SelectionExtension("IMG_0001.JPG"), ".jpg");
    EXPECT_EQ(SelectionExtension("IMG.0001.JPG"), ".0001.jpg");
    EXPECT_EQ(SelectionExtension("README"), "readme");
    EXPECT_EQ(SelectionExtension(".jpg"), ".jpg");
    EXPECT_EQ(SelectionExtension("Clip.MpEg"), ".mpeg");
    EXPECT_EQ(FileTitle("IMG_0001.JPG"), "IMG_0001");
    EXPECT_EQ(FileTitle(".jpg"), "");
    EXPECT_EQ(FileTitle("IMG.0001.JPG"), "IMG.0001");
}

TEST(Acceptance, EachListTakesItsExtensions) {
    struct Row {
        const char* name;
        bool moved;
        bool archived;
    };
    const Row rows[] = {
        {"IMG_0001.JPG", true, true}, {"pic.gif", true, true},       {"scan.BMP", true, true},
        {"p.jpeg", true, true},       {"CLIP0002.AVI", true, false}, {"clip.mpg", true, false},
        {"clip.MPEG", true, false},   {"home.wmv", true, false},     {"IMG.0001.JPG", false, false},
        {"README", false, false},     {"notes.txt", false, false},   {"thumbs.db", false, false},
        {".", false, false},          {"..", false, false},          {".jpg", true, true},
        {"holiday.jpg", true, true},  {"x.jpg ", false, false},      {"x.jpe", false, false},
    };
    for (const Row& row : rows) {
        const std::string extension = SelectionExtension(row.name);
        EXPECT_EQ(IsAccepted(extension, MoveExtensions()), row.moved) << row.name;
        EXPECT_EQ(IsAccepted(extension, ArchiveExtensions()), row.archived) << row.name;
    }
    EXPECT_EQ(MoveExtensions().size(), 8u);
    EXPECT_EQ(ArchiveExtensions().size(), 4u);
}

TEST(UnsafeNameReason, RefusesNamesThatLeaveTheFolder) {
    for (const std::string name : {"../x.jpg", "a/b.jpg", "/x.jpg", ".", ".."}) {
        EXPECT_FALSE(UnsafeNameReason(name).empty()) << name;
    }
    EXPECT_FALSE(UnsafeNameReason(std::string("a\0b.jpg", 7)).empty());
    for (const std::string name : {"IMG_0001.jpg", ".jpg", "..jpg", "a\\b.jpg", "a:b.jpg", " -.jpg"}) {
        EXPECT_EQ(UnsafeNameReason(name), "") << name;
    }
}

}  // namespace
