// The folder picker as the window's browse buttons use it, and the drives it lists beside the tree.
#include "folderpicker/FolderDialog.h"

#include <gtest/gtest.h>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

QString g_labels;  // the picker's labels and buttons, as the last one showed them

// Presses `button` in the picker once it is up.
void PressWhenUp(QDialogButtonBox::StandardButton button) {
    QTimer::singleShot(100, [button] {
        auto* buttons = QApplication::activeModalWidget()->findChild<QDialogButtonBox*>();
        g_labels.clear();
        for (const QLabel* label : QApplication::activeModalWidget()->findChildren<QLabel*>()) {
            g_labels += label->text() + "|";
        }
        for (const QAbstractButton* b : buttons->buttons()) {
            g_labels += b->text() + "|";
        }
        QTest::mouseClick(buttons->button(button), Qt::LeftButton);
    });
}

TEST(FolderDialogTest, TheWindowsPickerStartsWithTheBoxsFolderChosenAndGivesWholePaths) {
    TempDir dir;
    MakeFolder(dir / "camera");
    QWidget owner;
    ModalWatchdog watchdog;
    PressWhenUp(QDialogButtonBox::Open);
    EXPECT_EQ(WidgetPrompts().ChooseFolder(&owner, "Select from directory", dir / "camera"), dir / "camera");
    EXPECT_EQ(g_labels, "Select from directory||Look &In:|&Folder:|Files Of &Type:|&OK|&Cancel|");
    PressWhenUp(QDialogButtonBox::Cancel);
    EXPECT_EQ(WidgetPrompts().ChooseFolder(&owner, "Select from directory", dir / "camera"), "");
    EXPECT_FALSE(watchdog.fired);
    const FolderItem longest{"/" + std::string(258, 'a'), true}, tooLong{longest.path + "b", true};
    EXPECT_EQ(CFolderDialog::PathFromItem(&longest) + CFolderDialog::PathFromItem(&tooLong), longest.path);
}

TEST(MountedDrivesTest, AreTheMountPointsWhereUsersDrivesGo) {
    const std::string mounts =
        "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/me/CARD vfat rw 0 0\n"
        "/dev/sdc1 /run/media/me/My\\040Disk exfat rw 0 0\n/dev/sdd1 /mnt ext4 rw 0 0\n"
        "/dev/sde1 /mnt/backup ext4 rw 0 0\ntmpfs /media tmpfs rw 0 0\n/dev/sdf1 /mediaX ext4 rw 0 0\n";
    EXPECT_EQ(MountedDrives(mounts),
              (std::vector<std::string>{"/media/me/CARD", "/run/media/me/My Disk", "/mnt", "/mnt/backup"}));
}

}  // namespace
