// The program: the main window, run modally; the program ends when it closes.
#include <QApplication>

#include "app/PhotoMoverDlg.h"
#include "transfer/ArchivePass.h"
#include "transfer/MovePass.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CPhotoMoverDlg window(TransferPasses{&transfer::MovePass, &transfer::ArchivePass});
    window.exec();
    return 0;
}
