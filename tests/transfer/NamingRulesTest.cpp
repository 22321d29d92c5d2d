#include "transfer/DatedFolders.h"
#include "transfer/NamingRules.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "platform/Time.h"

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
        {kNameRename, "a|aa", "aba.jpg", "aabaa.jpg"},
        {kNameRename, "jpg|png", "photo.JPG", "photo.jpg"},
        {7, "x", "IMG_0001.JPG", "IMG_0001.jpg"},
    };
    for (const auto& c : cases) {
        PlainNamingInputs inputs;
        const std::string setting = c.setting;
        inputs.text = inputs.numberText = setting;
        // (Without a "|" the whole setting is the new text too, which no other option reads.)
        inputs.renameFind = setting.substr(0, setting.find('|'));
        inputs.renameNew = setting.substr(setting.find('|') + 1);
        int32_t passNumber = 0;
        EXPECT_EQ(
            ComposeNewName(FileTitle(c.entry), SelectionExtension(c.entry), c.option, 0, inputs, passNumber),
            c.expected)
            << c.setting;
    }
}

// (How the number box's text becomes the number given: the table above.)
TEST(ParseDialogInt, ReadsOnlyPlainSignedDecimals) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"41", 41},
        {"  -12", -12},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0", 0},
        {"2147483648", {}},
        {"~", {}},
        {"", {}},
        {"12a", {}},
        {"7 ", {}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseDialogInt(text), expected) << '"' << text << '"';
    }
}

// (A picture and a video: the passes' tests.)
TEST(Selection, EachListTakesItsExtensionsFromTheFirstDotInAnyCase) {
    // Taken by both lists or by neither.
    const std::pair<const char*, bool> rows[] = {
        {"scan.BMP", true}, {".jpg", true}, {"IMG.0001.JPG", false},
        {"README", false},  {"..", false},  {"x.jpg ", false},
    };
    for (const auto& [name, taken] : rows) {
        const std::string extension = SelectionExtension(name);
        EXPECT_TRUE(IsAccepted(extension, MoveExtensions()) == taken &&
                    IsAccepted(extension, ArchiveExtensions()) == taken)
            << name;
    }
}

// (An entry without its dot: the option's test.)
TEST(ParseExtensionList, TakesDottedEntriesInAnyCaseAndRefusesTheList) {
    // The list; its extensions, none when it is refused (as it is unless the text holds no entry).
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {".bmp .GIF,.jpeg\t.CR2.xmp", {".bmp", ".gif", ".jpeg", ".cr2.xmp"}},
        {" , ", {}},
        {". .jpg", {}},
        {".jpg .a/b", {}},
    };
    for (const auto& [text, expected] : cases) {
        const ExtensionList list = ParseExtensionList(text);
        EXPECT_EQ(list.extensions, expected) << text;
        EXPECT_EQ(list.error.empty(), !expected.empty() || *text == ' ') << text;
    }
}

// Dated folders and Date of Photo take the day in local time, where it differs from the day in UTC.
TEST(DatedFolders, APatternGivesTheFolderOfADateAndIsRefusedWhereItCouldLeaveTheDestination) {
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    const time_t t = 1772856303;  // 6 March 2026, 23:05:03 there; 7 March in UTC
    EXPECT_EQ(platform::LocalDateMMDDYY(t), "03/06/26");
    // The pattern; the folder, or the start of why it is refused. (A ".." level: the option's test.)
    const std::pair<std::string, std::string> cases[] = {
        {"%Y/%Y-%m-%d", "2026/2026-03-06"},
        {"Photos %y//%H%M%S %%/", "Photos 26/230503 %"},
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
