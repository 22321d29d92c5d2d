// The real tovaro program, started as a process on a virtual X display (Xvfb) and driven with keys typed by
// xdotool, as a user would: it stays up while its window is open and ends as soon as that window closes,
// whatever else it had opened.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <string>

#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

bool Installed(const char* tool) {
    return !QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty();
}

// An X server of this test's own, on a display number it picks itself.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        // -displayfd 1: the server writes the display number it took to its output once it is ready.
        m_server.start(QStringLiteral("Xvfb"),
                       {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!m_server.waitForStarted(10000)) {
            return;
        }
        while (!m_server.canReadLine() && m_server.waitForReadyRead(20000)) {
        }
        const QString number = QString::fromUtf8(m_server.readLine()).trimmed();
        if (!number.isEmpty()) {
            m_name = ":" + number;
        }
    }
    ~VirtualDisplay() {
        m_server.terminate();
        if (!m_server.waitForFinished(10000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }
    const QString& Name() const { return m_name; }  // empty when the server did not start

  private:
    QProcess m_server;
    QString m_name;
};

class ProgramTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::unique_ptr<VirtualDisplay> display;
    QProcess program;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            ASSERT_TRUE(Installed(tool)) << tool << " is not installed (scripts/setup.sh installs it)";
        }
        display = std::make_unique<VirtualDisplay>();
        ASSERT_FALSE(display->Name().isEmpty()) << "Xvfb did not start";
        // A copy of the program in a folder of its own, so that its settings file lands there.
        ASSERT_TRUE(QFile::copy(QStringLiteral(TOVARO_PROGRAM), QString::fromStdString(dir / "tovaro")));
        QFile::setPermissions(QString::fromStdString(dir / "tovaro"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        MakeFolder(dir / "runtime");
        QFile::setPermissions(QString::fromStdString(dir / "runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display->Name());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "runtime"));
        // In a sanitizer build: what the desktop's libraries keep until exit is no leak of ours.
        const QString suppressions = "suppressions=" TOVARO_SOURCE_DIR "/tests/support/lsan-desktop.supp";
        const QString lsan = env.value("LSAN_OPTIONS");
        env.insert("LSAN_OPTIONS", lsan.isEmpty() ? suppressions : lsan + ":" + suppressions);
        return env;
    }

    // Runs xdotool and returns what it printed; empty when it failed or took longer than `ms`.
    QString Xdo(const QStringList& arguments, int ms = 10000) const {
        QProcess xdo;
        xdo.setProcessEnvironment(Environment());
        xdo.start(QStringLiteral("xdotool"), arguments);
        if (!xdo.waitForFinished(ms)) {
            xdo.kill();
            xdo.waitForFinished(5000);
            return {};
        }
        return xdo.exitCode() == 0 ? QString::fromUtf8(xdo.readAllStandardOutput()).trimmed() : QString();
    }

    // The id of the window with this exact title, once it is there; empty when none comes up in time.
    QString WaitForWindow(const QString& title) const {
        return Xdo({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, 30000)
            .section('\n', 0, 0);
    }
    bool WindowGone(const QString& title) const {
        for (int i = 0; i < 100; ++i) {
            if (Xdo({"search", "--onlyvisible", "--name", "^" + title + "$"}).isEmpty()) {
                return true;
            }
            QTest::qWait(100);
        }
        return false;
    }

    // Types keys into the window that has the focus, one after the other.
    void Keys(const QStringList& keys) const { Xdo(QStringList{"key", "--delay", "150"} + keys); }
    void Focus(const QString& window) const { Xdo({"windowfocus", "--sync", window}); }

    // Starts the program and waits for its window; the window's id, or empty.
    QString Start(const QStringList& arguments = {}) {
        program.setProcessEnvironment(Environment());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QString::fromStdString(dir / "tovaro"), arguments);
        if (!program.waitForStarted(10000)) {
            return {};
        }
        return WaitForWindow("Tovaro Utility");
    }

    bool StillRunning() { return !program.waitForFinished(500) && program.state() == QProcess::Running; }

    // The program ended by itself, in good order, within a few seconds of the last key.
    void ExpectEnded() {
        EXPECT_TRUE(program.waitForFinished(15000)) << "the program is still running";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    }
};

TEST_F(ProgramTest, EndsWhenItsWindowCloses) {
    const struct {
        const char* name;
        QStringList keys;
    } cases[] = {
        {"Esc", {"Escape"}},
        {"Cancel by its mnemonic", {"alt+c"}},
        {"Close of the window menu, opened with the Menu key", {"Menu", "c"}},
        {"Close of the window menu, opened with Shift+F10", {"shift+F10", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString window = Start();
        ASSERT_FALSE(window.isEmpty()) << "no window: " << program.readAll().toStdString();
        ASSERT_TRUE(StillRunning()) << "ended by itself";
        Focus(window);
        Keys(c.keys);
        ExpectEnded();
    }
}

TEST_F(ProgramTest, AboutBoxAndHelpComeAndGoWhileTheWindowRuns) {
    const QString window = Start();
    ASSERT_FALSE(window.isEmpty()) << "no window: " << program.readAll().toStdString();
    Focus(window);

    Keys({"shift+F10", "a"});
    ASSERT_FALSE(WaitForWindow("About Tovaro").isEmpty());
    Keys({"Escape"});  // closes the about box only
    EXPECT_TRUE(WindowGone("About Tovaro"));
    ASSERT_TRUE(StillRunning());

    Focus(window);
    Keys({"alt+h"});
    ASSERT_FALSE(WaitForWindow("Tovaro Help").isEmpty());
    ASSERT_TRUE(StillRunning());

    // With the help window still open, closing the main window ends the program.
    Focus(window);
    Keys({"Escape"});
    ExpectEnded();
}

TEST_F(ProgramTest, IgnoresItsArguments) {
    const QString window = Start({"--from", "/no/such/folder", "extra"});
    ASSERT_FALSE(window.isEmpty()) << "no window: " << program.readAll().toStdString();
    ASSERT_TRUE(StillRunning());
    Focus(window);
    Keys({"Escape"});
    ExpectEnded();
}

}  // namespace
