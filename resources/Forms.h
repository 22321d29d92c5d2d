// The program's two forms as plain data: every control with its kind, text, place and style, in form order
// (which is also the tab order). The window builds its widgets from these tables; nothing here knows Qt.
#pragma once

#include <span>
#include <string_view>

namespace resources {

enum class ControlKind {
    PushButton,   // a push button; kDefault makes it the form's default button
    StaticText,   // a label; a "&" marks its mnemonic, which moves the focus to the next tab stop
    Picture,      // a static picture showing the icon `resource`
    GroupBox,     // a frame with a title around other controls
    Edit,         // a single-line edit box; it scrolls sideways as the text grows
    RadioButton,  // an automatic radio button, exclusive within its group
    CheckBox,     // an automatic check box
};

// Style flags of a control.
enum ControlStyle : unsigned {
    kGroupStart = 1u << 0,  // opens a new group (ends a radio group)
    kTabStop = 1u << 1,     // the Tab key visits it
    kDisabled = 1u << 2,    // created disabled
    kDefault = 1u << 3,     // the default push button: Enter presses it
    kCentered = 1u << 4,    // static text centred
    kSunken = 1u << 5,      // static text with a sunken border
    kDigitsOnly = 1u << 6,  // edit box that takes only digits from the keyboard
    kNoPrefix = 1u << 7,    // static text shown as it stands: "&" is no mnemonic
};

struct ControlTemplate {
    int id;            // control id (IDC_STATIC for controls nobody refers to)
    const char* name;  // the widget's object name; unique within the form
    ControlKind kind;
    const char* text;         // label or initial text
    int x, y, width, height;  // in dialog units
    unsigned style;           // ControlStyle flags
    int resource = 0;         // the icon of a Picture
};

struct FormTemplate {
    const char* caption;
    int width, height;  // client size in dialog units
    int pointSize;      // the form's font size; the face is the desktop's own
    std::span<const ControlTemplate> controls;
};

const FormTemplate& MainForm();   // form 102, the main window
const FormTemplate& AboutForm();  // form 100, the about box

// The text of a string resource; empty for an unknown id.
std::string_view LoadString(int id);

}  // namespace resources
