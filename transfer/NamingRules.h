// Which files a pass takes, and the new name each one gets.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace transfer {

// The naming choice: the index of the checked radio button of the window's "Append To File Name:" group.
using NameOption = int32_t;
inline constexpr NameOption kNameNothing = 0;
inline constexpr NameOption kNameText = 1;
inline constexpr NameOption kNameDate = 2;
inline constexpr NameOption kNameNumber = 3;
inline constexpr NameOption kNameRename = 4;

// What the naming rules read from (and write to) the user's form for every taken file. The window implements
// it over its controls; the command line and the tests over plain values.
class NamingInputs {
public:
    virtual ~NamingInputs() = default;
    virtual std::string Text() const = 0;                    // IDC_TEXT
    virtual std::string NumberText() const = 0;              // IDC_NUMBER, as shown
    virtual void SetNumberText(const std::string& text) = 0; // IDC_NUMBER
    virtual std::string RenameFind() const = 0;              // IDC_RENAME_FIND
    virtual std::string RenameNew() const = 0;               // IDC_RENAME_NEW
    virtual bool IsNumberChecked() const = 0;                // check state of IDC_APPEND_NUMBER
};

// NamingInputs over plain values.
struct PlainNamingInputs : NamingInputs {
    std::string text, numberText, renameFind, renameNew;
    bool numberChecked = false;

    std::string Text() const override { return text; }
    std::string NumberText() const override { return numberText; }
    void SetNumberText(const std::string& value) override { numberText = value; }
    std::string RenameFind() const override { return renameFind; }
    std::string RenameNew() const override { return renameNew; }
    bool IsNumberChecked() const override { return numberChecked; }
};

}  // namespace transfer
