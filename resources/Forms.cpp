#include "resources/Forms.h"

#include <iterator>

#include "resources/ResourceIds.h"

namespace resources {
namespace {

using enum ControlKind;

const ControlTemplate kMainControls[] = {
    {IDOK, "IDOK", PushButton, "&OK", 262, 34, 50, 14, kTabStop | kDefault},
    {IDCANCEL, "IDCANCEL", PushButton, "&Cancel", 262, 52, 50, 14, kTabStop},
    {IDC_STATUS, "IDC_STATUS", StaticText, "Status:", 7, 2, 305, 16, kCentered | kSunken},
    {IDC_STATIC, "labelFrom", StaticText, "&From (Camera Folder)", 7, 23, 120, 8, kGroupStart},
    {IDC_FROMDIR, "IDC_FROMDIR", Edit, "", 7, 34, 233, 13, kTabStop},
    {IDC_BROWSE_FROM, "IDC_BROWSE_FROM", PushButton, "...", 244, 34, 11, 12, kTabStop},
    {IDC_STATIC, "labelTo", StaticText, "&To (Folder On Your Computer)", 7, 55, 120, 8, kGroupStart},
    {IDC_TODIR, "IDC_TODIR", Edit, "", 7, 66, 233, 12, kTabStop},
    {IDC_BROWSE_TO, "IDC_BROWSE_TO", PushButton, "...", 244, 66, 11, 12, kTabStop},
    {IDC_APPEND_GROUP, "IDC_APPEND_GROUP", GroupBox, "Append To File Name:", 7, 85, 172, 85, kGroupStart},
    {IDC_APPEND_NOTHING, "IDC_APPEND_NOTHING", RadioButton, "&Nothing:", 13, 98, 43, 10,
     kGroupStart | kTabStop},
    {IDC_APPEND_TEXT, "IDC_APPEND_TEXT", RadioButton, "Te&xt:", 13, 111, 32, 10, 0},
    {IDC_TEXT, "IDC_TEXT", Edit, "", 54, 110, 117, 12, kDisabled | kTabStop},
    {IDC_APPEND_DATE, "IDC_APPEND_DATE", RadioButton, "Date of &Photo:", 13, 124, 62, 10, 0},
    {IDC_APPEND_NUMBER, "IDC_APPEND_NUMBER", RadioButton, "Nu&mber:", 13, 138, 41, 10, 0},
    {IDC_NUMBER, "IDC_NUMBER", Edit, "", 55, 138, 117, 12, kDigitsOnly | kDisabled | kTabStop},
    {IDC_APPEND_RENAME, "IDC_APPEND_RENAME", RadioButton, "&Rename:", 13, 153, 41, 10, 0},
    {IDC_RENAME_FIND, "IDC_RENAME_FIND", Edit, "", 55, 153, 48, 12, kDisabled | kTabStop},
    {IDC_STATIC, "labelRenameNew", StaticText, "Ne&w", 107, 153, 16, 8, kGroupStart},
    {IDC_RENAME_NEW, "IDC_RENAME_NEW", Edit, "", 125, 153, 47, 12, kDisabled | kTabStop},
    {IDC_SEND_TO_ZIP, "IDC_SEND_TO_ZIP", CheckBox, "&Send Files To Zip:", 187, 89, 75, 12, kTabStop},
    {ID_HELP, "ID_HELP", PushButton, "&Help", 262, 160, 50, 14, kTabStop},
};

const ControlTemplate kAboutControls[] = {
    {IDC_STATIC, "aboutIcon", Picture, "", 11, 17, 20, 20, 0, IDR_MAINFRAME},
    {IDC_STATIC, "aboutVersion", StaticText, "Tovaro Version 1.0", 40, 10, 119, 8, kGroupStart | kNoPrefix},
    {IDOK, "IDOK", PushButton, "OK", 178, 7, 50, 14, kGroupStart | kTabStop | kDefault},
};

const FormTemplate kMainForm{"Tovaro Utility", 319, 181, 8, kMainControls};
const FormTemplate kAboutForm{"About Tovaro", 235, 55, 8, kAboutControls};

struct StringResource {
    int id;
    std::string_view text;
};

const StringResource kStrings[] = {
    {IDS_ABOUTBOX, "&About Tovaro..."},
};

}  // namespace

const FormTemplate& MainForm() {
    return kMainForm;
}
const FormTemplate& AboutForm() {
    return kAboutForm;
}

std::string_view LoadString(int id) {
    for (const auto& s : kStrings) {
        if (s.id == id) {
            return s.text;
        }
    }
    return {};
}

}  // namespace resources
