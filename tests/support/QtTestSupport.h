// Helpers for tests of real widgets.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "app/UserPrompts.h"

// Texts of widgets in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Every ten seconds hides the modal window on top, so that a test whose modal run nobody ends fails
// (`fired`) instead of hanging.
struct ModalWatchdog : QTimer {
    bool fired = false;
    ModalWatchdog() {
        callOnTimeout([this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                fired = true;
                // Ends its modal run.
                modal->hide();
            }
        });
        start(10000);
    }
};

// Answers message boxes and the folder picker without blocking, and records what was asked.
struct ScriptedPrompts : UserPrompts {
    // What the picker gives ("" cancels), and the answer to every question ("yes" or "no").
    std::string folder, answer = "no";
    // A line for each box asked, its text and "?" (a question) or "!" (a warning), and each picker; the
    // caption and the owner of the last box or picker.
    std::string asked, caption;
    QWidget* owner = nullptr;

    int MessageBox(QWidget* by, const std::string& text, const std::string& title, unsigned style) override {
        const bool question = style == (kBoxYesNo | kBoxIconQuestion);
        asked += text + (question ? "?" : style == (kBoxOk | kBoxIconExclamation) ? "!" : "") + "\n";
        caption = title;
        owner = by;
        return !question ? kAnswerOk : answer == "yes" ? kAnswerYes : kAnswerNo;
    }
    std::string ChooseFolder(QWidget* by, const std::string& title, const std::string& start) override {
        asked += "picker " + title + " at " + start + "\n";
        owner = by;
        return folder;
    }
    // Runs the dialog's modal part: `dialog` sets its controls and presses a button; its result is the
    // answer. Cancel when none is given.
    std::function<void(QDialog&)> dialog;
    int RunDialog(QDialog& shown) override {
        asked += "dialog " + shown.objectName().toStdString() + "\n";
        shown.show();
        if (dialog) {
            dialog(shown);
        }
        const int result = shown.isVisible() ? QDialog::Rejected : shown.result();
        shown.hide();
        return result;
    }
    void OpenFolder(const std::string& path) override { asked += "open " + path + "\n"; }
    // What was asked since the last call.
    std::string Asked() { return std::exchange(asked, ""); }
};

}  // namespace testsupport
