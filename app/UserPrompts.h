// Everything the main window asks of the user in a modal loop of its own: message boxes and the folder
// picker. The window reaches them only through this interface, so a test can answer them in advance.
#pragma once

#include <string>

class QDialog;
class QWidget;

// Message box styles (buttons plus icon) and answers, with the values dialog code has always given them.
inline constexpr unsigned kBoxOk = 0x00;               // OK only
inline constexpr unsigned kBoxYesNo = 0x04;            // Yes and No
inline constexpr unsigned kBoxIconQuestion = 0x20;     // question mark
inline constexpr unsigned kBoxIconExclamation = 0x30;  // exclamation mark
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

class UserPrompts {
  public:
    virtual ~UserPrompts() = default;

    // A modal message box owned by `owner`, with `caption` in its title bar; returns the button pressed.
    virtual int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                           unsigned style) = 0;

    // The folder picker owned by `owner`, with `title` above the tree, showing the folder `start` chosen when
    // there is one; the chosen folder's full path, or empty when the user cancelled.
    virtual std::string ChooseFolder(QWidget* owner, const std::string& title, const std::string& start) = 0;

    // Runs `dialog` (Options) modally; QDialog::Accepted when the user pressed OK and it took the values.
    virtual int RunDialog(QDialog& dialog) = 0;

    // Opens `folder` in the desktop's file manager.
    virtual void OpenFolder(const std::string& folder) = 0;
};

// The real thing: Qt message boxes and CFolderDialog.
class WidgetPrompts : public UserPrompts {
  public:
    int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned style) override;
    std::string ChooseFolder(QWidget* owner, const std::string& title, const std::string& start) override;
    int RunDialog(QDialog& dialog) override;
    void OpenFolder(const std::string& folder) override;
};
