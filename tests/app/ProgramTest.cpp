// The real program, started as a process on a virtual X display and driven with keys typed by xdotool: it
// stays up while its window is open and ends as soon as that window closes, whatever else it had opened.
#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

class ProgramTest : public ::testing::Test {
  protected:
    TempDir dir;
    QProcess server, program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
                << tool << " is missing (scripts/setup.sh)";
        }
        // -displayfd 1: the server writes the display number it took once it is ready. -noreset: without it
        // the server resets when its last client leaves, and a program started during the reset can't
        // connect.
        server.start("Xvfb",
                     {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        while (server.waitForStarted(10000) && !server.canReadLine() && server.waitForReadyRead(20000)) {
        }
        const QString display = QString::fromUtf8(server.readLine()).trimmed();
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        // A copy of the program in a folder of its own, so that its settings file lands there.
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        ASSERT_TRUE(QFile::copy(TOVARO_PROGRAM, QString::fromStdString(dir / "tovaro")));
        QFile::setPermissions(QString::fromStdString(dir / "tovaro"), owner);
        MakeFolder(dir / "runtime");
        QFile::setPermissions(QString::fromStdString(dir / "runtime"), owner);
        env.insert("DISPLAY", ":" + display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "runtime"));
        // In a sanitizer build: what the desktop's libraries keep until exit is no leak of ours.
        const QString lsan = env.value("LSAN_OPTIONS");
        env.insert("LSAN_OPTIONS", (lsan.isEmpty() ? "" : lsan + ":") + "suppressions=" TOVARO_SOURCE_DIR
                                                                        "/tests/support/lsan-desktop.supp");
    }
    void TearDown() override {
        program.kill();
        program.waitForFinished(5000);
        server.terminate();  // lets the server remove its lock file
        if (!server.waitForFinished(10000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }

    // Runs xdotool and returns what it printed; empty when it failed or took longer than `ms`.
    QString Xdo(const QStringList& arguments, int ms = 10000) const {
        QProcess xdo;
        xdo.setProcessEnvironment(env);
        xdo.start("xdotool", arguments);
        if (!xdo.waitForFinished(ms)) {
            xdo.kill();
            xdo.waitForFinished(5000);
            return {};
        }
        return xdo.exitCode() == 0 ? QString::fromUtf8(xdo.readAllStandardOutput()).trimmed() : QString();
    }
    // The id of the visible window with this exact title; `wait` for it to come up, else look once. The
    // search is repeated rather than left to xdotool's own waiting, since a search fails outright when a
    // window it looks at goes away meanwhile (such as the last run's window being destroyed).
    QString Window(const QString& title, bool wait = true) const {
        const QStringList args{"search", "--onlyvisible", "--name", "^" + title + "$"};
        QString found = Xdo(args);
        for (int tries = 0; wait && found.isEmpty() && tries < 300; ++tries) {
            QTest::qWait(100);
            found = Xdo(args);
        }
        return found.section('\n', 0, 0);
    }
    void Keys(const QString& window, const QStringList& keys) const {
        Xdo({"windowfocus", "--sync", window});
        Xdo(QStringList{"key", "--delay", "150"} + keys);
    }
    // Starts the program and waits for its window; the window's id, or empty.
    QString Start(const QStringList& arguments = {}) {
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QString::fromStdString(dir / "tovaro"), arguments);
        return program.waitForStarted(10000) ? Window("Tovaro Utility") : QString();
    }
    bool StillRunning() { return !program.waitForFinished(500) && program.state() == QProcess::Running; }
    void ExpectEnded() {
        EXPECT_TRUE(program.waitForFinished(15000)) << "the program is still running";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    }
};

TEST_F(ProgramTest, EndsWhenItsWindowClosesAndIgnoresItsArguments) {
    const struct {
        QStringList arguments, keys;
    } cases[] = {
        {{"--from", "/no/such/folder", "extra"}, {"Escape"}},
        {{}, {"alt+c"}},      // Cancel by its mnemonic
        {{}, {"Menu", "c"}},  // Close of the window menu
        {{}, {"shift+F10", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys.join(" ").toStdString());
        const QString window = Start(c.arguments);
        ASSERT_FALSE(window.isEmpty()) << "no window: " << program.readAll().toStdString();
        ASSERT_TRUE(StillRunning()) << "ended by itself";
        Keys(window, c.keys);
        ExpectEnded();
    }
}

TEST_F(ProgramTest, AboutBoxAndHelpComeAndGoWhileTheWindowRuns) {
    const QString window = Start();
    ASSERT_FALSE(window.isEmpty()) << "no window: " << program.readAll().toStdString();
    Keys(window, {"shift+F10", "a"});
    ASSERT_FALSE(Window("About Tovaro").isEmpty());
    Xdo({"key", "Escape"});  // closes the about box only
    EXPECT_TRUE(QTest::qWaitFor([&] { return Window("About Tovaro", false).isEmpty(); }, 10000));
    ASSERT_TRUE(StillRunning());

    Keys(window, {"alt+h"});
    ASSERT_FALSE(Window("Tovaro Help").isEmpty());
    ASSERT_TRUE(StillRunning());
    Keys(window, {"Escape"});  // with the help window still open, closing the main window ends the program
    ExpectEnded();
}

}  // namespace
