// Helpers for tests of real widgets.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <deque>
#include <ostream>
#include <string>
#include <utility>

#include "app/UserPrompts.h"

// Texts of widgets in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Hides every modal window after ten seconds, so that a test whose modal run nobody ends fails (`fired`)
// instead of hanging.
struct ModalWatchdog : QTimer {
    bool fired = false;
    ModalWatchdog() {
        callOnTimeout([this] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible() && window->windowModality() != Qt::NonModal) {
                    fired = true;
                    window->hide();  // ends its modal run
                }
            }
        });
        start(10000);
    }
};

// Answers message boxes and the folder picker from a script, never blocking, and records what was asked.
struct ScriptedPrompts : UserPrompts {
    // The answers in order: "yes" or "no" to a question, a folder to the picker ("" cancels).
    std::deque<std::string> script;
    // A line for each box asked, its text and "?" (a question) or "!" (a warning), and each picker.
    std::string asked;
    std::string caption;
    QWidget* owner = nullptr;  // of the last box or picker

    int MessageBox(QWidget* by, const std::string& text, const std::string& title, unsigned style) override {
        const bool question = style == (kBoxYesNo | kBoxIconQuestion);
        asked += text + (question ? "?" : style == (kBoxOk | kBoxIconExclamation) ? "!" : "") + "\n";
        caption = title;
        owner = by;
        return !question ? kAnswerOk : Next() == "yes" ? kAnswerYes : kAnswerNo;
    }
    std::string ChooseFolder(QWidget* by, const std::string& title, const std::string& start) override {
        asked += "picker " + title + " at " + start + "\n";
        owner = by;
        return Next();
    }
    std::string Next() {
        if (script.empty()) {
            ADD_FAILURE() << "a question the test did not expect";
            script.emplace_back();
        }
        const std::string next = script.front();
        script.pop_front();
        return next;
    }
    // What was asked since the last call.
    std::string Asked() { return std::exchange(asked, ""); }
};

}  // namespace testsupport
