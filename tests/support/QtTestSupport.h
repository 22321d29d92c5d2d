// Helpers for tests of real widgets.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/UserPrompts.h"

namespace testsupport {

// Processes events until `done` holds or `ms` have passed; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() <= ms) {
        QTest::qWait(10);
    }
    return done();
}

// Closes every modal window after `ms`, so that a test whose modal loop nobody answers fails instead of
// hanging. Lives as long as the test's scope.
class ModalWatchdog {
  public:
    explicit ModalWatchdog(int ms = 10000) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* modal; (modal = QApplication::activeModalWidget()) != nullptr;) {
                m_fired = true;
                modal->close();
                modal->hide();
                if (QApplication::activeModalWidget() == modal) {
                    break;
                }
            }
        });
        m_timer.start(ms);
    }
    bool Fired() const { return m_fired; }

  private:
    QTimer m_timer;
    bool m_fired = false;
};

// Answers message boxes and the folder picker from a script, never blocking, and records what was asked.
class ScriptedPrompts : public UserPrompts {
  public:
    struct Box {
        std::string text, caption;
        unsigned style;
        QWidget* owner;
    };
    std::vector<Box> boxes;
    std::deque<int> answers;          // for Yes/No boxes, in order
    std::deque<std::string> folders;  // for the picker, in order; "" cancels
    std::vector<std::string> pickerTitles;
    std::vector<QWidget*> pickerOwners;
    int unanswered = 0;  // questions the script had no answer for

    int MessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned style) override {
        boxes.push_back({text, caption, style, owner});
        return (style & 0x0F) == kBoxYesNo ? Next(answers, kAnswerNo) : kAnswerOk;
    }
    std::string ChooseFolder(QWidget* owner, const std::string& title) override {
        pickerTitles.push_back(title);
        pickerOwners.push_back(owner);
        return Next(folders, std::string());
    }
    bool Asked() const { return !boxes.empty() || !pickerTitles.empty(); }

  private:
    template <typename T>
    T Next(std::deque<T>& script, T otherwise) {
        if (script.empty()) {
            ++unanswered;
            return otherwise;
        }
        T next = script.front();
        script.pop_front();
        return next;
    }
};

}  // namespace testsupport
