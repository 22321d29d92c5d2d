// The window program. It takes no arguments: whatever is given is ignored (Qt still reads its own options,
// such as -platform).
#include <QApplication>

#include "app/PhotoMoverApp.h"
#include "transfer/ArchivePass.h"
#include "transfer/MovePass.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The one application object lives in main rather than as a global: Qt allows no widget before the
    // QApplication exists and none after it is gone, and the application object owns the help window.
    CPhotoMoverApp theApp(TransferPasses{&transfer::MovePass, &transfer::ArchivePass});
    // A start-up that returns false ends the program at once: no event loop follows the main window's
    // modal run. The program sets no exit code of its own.
    theApp.InitInstance();
    return 0;
}
