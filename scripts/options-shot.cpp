// Draws the Options dialog as the window shows it, over the settings file SETTINGS, and saves it as OUT
// (a PNG): the picture in docs/options.png. Run offscreen (QT_QPA_PLATFORM=offscreen) by
// scripts/screenshot.sh, which builds it (target tovaro_options_shot).
// Usage: tovaro_options_shot SETTINGS OUT
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "app/OptionsDlg.h"
#include "app/UserPrompts.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: tovaro_options_shot SETTINGS OUT\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    WidgetPrompts prompts;
    COptionsDlg dialog(SettingsFile(argv[1]), prompts, "Tovaro", nullptr);
    dialog.show();
    QApplication::processEvents();
    return dialog.grab().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
