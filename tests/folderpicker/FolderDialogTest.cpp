// The folder picker as the window's browse buttons use it, and the drives it lists beside the tree.
#include "folderpicker/FolderDialog.h"

#include <gtest/gtest.h>
#include <QDialogButtonBox>
#include <QPushButton>

#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

// Presses `button` in the picker once it is up.
void PressWhenUp(QDialogButtonBox::StandardButton button) {
    QTimer::singleShot(100, [button] {
        auto* buttons = QApplication::activeModalWidget()->findChild<QDialogButtonBox*>();
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
