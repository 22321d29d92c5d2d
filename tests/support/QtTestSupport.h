// Helpers for tests of real widgets.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace testsupport {

// Processes events until `done` holds or `ms` have passed; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

// Closes every modal window after `ms`, so that a test whose modal loop nobody answers fails instead of
// hanging. Lives as long as the test's scope.
class ModalWatchdog {
  public:
    explicit ModalWatchdog(int ms = 10000) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            while (QWidget* modal = QApplication::activeModalWidget()) {
                m_fired = true;
                modal->close();
                if (QApplication::activeModalWidget() == modal) {
                    modal->hide();
                }
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

}  // namespace testsupport
