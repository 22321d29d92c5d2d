// The window program. It takes no arguments: whatever is given is ignored, Qt's own options (-reverse,
// -platform, -style) too, so that no word on the command line changes the window.
#include <QApplication>
#include <cstdio>

#include "app/PhotoMoverApp.h"
#include "platform/Process.h"
#include "transfer/ArchivePass.h"
#include "transfer/MovePass.h"

namespace {

// Whether the window system Qt is about to use has a display to show windows on. Qt itself would abort
// without one, advising to reinstall the program. Platforms other than X11 and Wayland (offscreen, a VNC
// server) need no display. Qt is given no arguments, so only the environment chooses the platform.
bool HasDisplay() {
    const QString platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platforms.isEmpty()) {
        return x11 || wayland;
    }
    // A list such as "wayland;xcb" is tried in order; options follow a plugin's name after ":".
    for (const QString& platform : platforms.split(u';')) {
        const QString name = platform.section(u':', 0, 0);
        if (name == QLatin1String("xcb") ? x11 : name.startsWith(QLatin1String("wayland")) ? wayland : true) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fputs("no display: use tovaro-cli, or run tovaro on a desktop\n", stderr);
        return 1;
    }
    platform::RaiseOpenFileLimit();  // before Qt starts its threads
    // Only the program's name: Qt keeps the count and the list for the application's whole life.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication application(qtArgc, qtArgv);
    // The one application object lives in main rather than as a global: Qt allows no widget before the
    // QApplication exists and none after it is gone, and the application object owns the help window.
    CPhotoMoverApp theApp(TransferPasses{&transfer::MovePass, &transfer::ArchivePass});
    // A start-up that returns false ends the program at once: no event loop follows the main window's
    // modal run. The program sets no exit code of its own.
    theApp.InitInstance();
    return 0;
}
