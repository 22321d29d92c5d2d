#include "transfer/DatedFolders.h"
#include "transfer/NamingRules.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <ctime>

using namespace transfer;

namespace {

// The corners of each option. (A plain name, the date and each file's own number: the passes' tests.)
TEST(ComposeNewName, GivesTheExpectedName) {
    const struct {
        NameOption option;
        const char *setting, *entry, *expected;  // setting: the text, the find/new pair, or the number shown
    } cases[] = {
        {kNameNothing, "", ".jpg", ".jpg"},
        {kNameText, "Trip/2026\\Beach", "IMG_0001.JPG", "IMG_0001 -Trip2026Beach.jpg"},
        {kNameText, "", "IMG_0001.JPG", "IMG_0001 -.jpg"},
        {kNameNumber, "~", "IMG_0001.JPG", "IMG_0001 -0.jpg"},
        {kNameNumber, "-3", "photo.jpg", "photo --3.jpg"},
        {kNameRename, "0|x", "IMG_0001.JPG", "IMG_xxx1.jpg"},
        {kNameRename, "|x", "IMG_0001.JPG", "IMG_0001.jpg"},
        {kNameRename, "aa|b", "aaa.jpg", "ba.jpg"},
        {kNameRename, "a|aa", "aba.jpg", "aabaa.jpg"},
        {kNameRename, "jpg|png", "photo.JPG", "photo.jpg"},
        {kNameRename, "img|", "IMG_0001.JPG", "IMG_0001.jpg"},
        {7, "x", "IMG_0001.JPG", "IMG_0001.jpg"},
    };
    for (const auto& c : cases) {
        PlainNamingInputs inputs;
        const std::string setting = c.setting;
        inputs.text = inputs.numberText = setting;
        inputs.renameFind = setting.substr(0, setting.find('|'));
        inputs.renameNew =
            setting.find('|') == std::string::npos ? "" : setting.substr(setting.find('|') + 1);
        int32_t passNumber = 0;
        EXPECT_EQ(
            ComposeNewName(FileTitle(c.entry), SelectionExtension(c.entry), c.option, 0, inputs, passNumber),
            c.expected)
            << c.option << " " << c.setting << " " << c.entry;
    }
}

// After the largest number comes the smallest. (That each numbered file uses up the number shown then: the
// passes' tests.)
TEST(ComposeNewName, TheNumberWraps) {
    PlainNamingInputs inputs;
    inputs.numberText = "2147483647";
    int32_t passNumber = 0;
    EXPECT_EQ(ComposeNewName("a", ".jpg", kNameNumber, 0, inputs, passNumber), "a -2147483647.jpg");
    EXPECT_EQ(inputs.numberText, "-2147483648");
}

TEST(ReadDialogInt, ReadsOnlyPlainSignedDecimals) {
    const std::pair<const char*, int32_t> cases[] = {
        {"41", 41},
        {"  -12", -12},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", 0},
        {"~", 0},
        {"", 0},
        {"-", 0},
        {"+5", 0},
        {"12a", 0},
        {"7 ", 0},
        {"0", 0},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ReadDialogInt(text), expected) << '"' << text << '"';
        EXPECT_EQ(ParseDialogInt(text).has_value(), expected != 0 || std::string(text) == "0") << text;
    }
}

// (A picture and a video: the passes' tests.)
TEST(Selection, EachListTakesItsExtensionsFromTheFirstDotInAnyCase) {
    const struct {
        const char* name;
        bool moved, archived;
    } rows[] = {
        {"scan.BMP", true, true}, {"IMG.0001.JPG", false, false}, {"README", false, false},
        {"..", false, false},     {".jpg", true, true},           {"x.jpg ", false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsAccepted(SelectionExtension(row.name), MoveExtensions()), row.moved) << row.name;
        EXPECT_EQ(IsAccepted(SelectionExtension(row.name), ArchiveExtensions()), row.archived) << row.name;
    }
}

// (An entry without its dot, or with a "/": the option's and the settings key's tests.)
TEST(ParseExtensionList, TakesDottedEntriesInAnyCaseAndRefusesTheList) {
    const struct {
        const char* text;
        std::vector<std::string> expected;  // empty and refused, unless the text holds no entry
    } cases[] = {
        {".bmp .GIF,.jpeg\t.CR2.xmp", {".bmp", ".gif", ".jpeg", ".cr2.xmp"}},
        {" , ", {}},
        {". .jpg", {}},
    };
    for (const auto& c : cases) {
        const ExtensionList list = ParseExtensionList(c.text);
        EXPECT_EQ(list.extensions, c.expected) << c.text;
        EXPECT_EQ(list.error.empty(), !c.expected.empty() || *c.text == ' ') << c.text;
    }
}

TEST(DatedFolders, APatternGivesTheFolderOfADateAndIsRefusedWhereItCouldLeaveTheDestination) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const time_t t = 1772874303;  // 7 March 2026, 09:05:03
    // The pattern; the folder, or the start of why it is refused. (A ".." level: the option's test.)
    const std::pair<std::string, std::string> cases[] = {
        {"%Y/%Y-%m-%d", "2026/2026-03-07"},
        {"Photos %y//%H%M%S %%/", "Photos 26/090503 %"},
        {"", ""},
        {"/%Y", "it starts with \"/\""},
        {"%Y/%q", "\"%q\" is not one of"},
    };
    for (const auto& [pattern, expected] : cases) {
        const std::string refused = FolderPatternRefusal(pattern);
        EXPECT_EQ(refused.empty() ? ExpandFolderPattern(pattern, t) : refused.substr(0, expected.size()),
                  expected)
            << pattern;
    }
}

TEST(UnsafeNameReason, RefusesNamesThatLeaveTheFolder) {
    for (const std::string& name :
         std::vector<std::string>{"../x.jpg", "a/b.jpg", ".", "..", {"a\0b.jpg", 7}}) {
        EXPECT_FALSE(UnsafeNameReason(name).empty()) << name;
    }
    for (const std::string name : {"..jpg", "a\\b.jpg", " -.jpg"}) {
        EXPECT_EQ(UnsafeNameReason(name), "") << name;
    }
}

}  // namespace
