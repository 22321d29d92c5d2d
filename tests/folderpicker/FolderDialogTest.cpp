#include "folderpicker/FolderDialog.h"

#include <gtest/gtest.h>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <algorithm>

#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

QFileDialog* ListOf(const CFolderDialog& picker) {
    return picker.Window() != nullptr ? picker.Window()->findChild<QFileDialog*>() : nullptr;
}

// A picker whose handlers record what reached them; `onInitialized` plays the user's part. Its filter hides
// "secret" and asks for hidden folders to be listed too.
class RecordingPicker : public CFolderDialog {
  public:
    using CFolderDialog::CFolderDialog;
    std::function<void(RecordingPicker&)> onInitialized;
    std::vector<unsigned> handled, proposedFlags;
    std::vector<std::string> selections, failedTexts;
    bool keepOpenOnFailure = true;

    void OnBrowseInitialized() override {
        handled.push_back(kBrowseInitialized);
        onInitialized(*this);
    }
    void OnBrowseIUnknown(FolderFilterSite* site) override {
        handled.push_back(site != nullptr ? unsigned{kBrowseIUnknown} : 0u);
        CFolderDialog::OnBrowseIUnknown(site);
    }
    void OnBrowseSelChanged(const FolderItem* item) override {
        handled.push_back(kBrowseSelChanged);
        selections.push_back(item != nullptr ? item->path : "(none)");
    }
    bool OnBrowseValidateFailed(const std::string& text) override {
        handled.push_back(kBrowseValidateFailed);
        failedTexts.push_back(text);
        return keepOpenOnFailure;
    }
    void OnFilterEnumFlags(const FolderItem&, unsigned& flags) override {
        proposedFlags.push_back(flags);
        flags |= kEnumHidden;
    }
    bool OnFilterShouldShow(const FolderItem&, const FolderItem& item) override {
        return item.path.find("secret") == std::string::npos;
    }

    void Click(QDialogButtonBox::StandardButton which) {
        QTest::mouseClick(ListOf(*this)->findChild<QDialogButtonBox*>()->button(which), Qt::LeftButton);
    }
    void Cancel() { Click(QDialogButtonBox::Cancel); }
};

class FolderDialogTest : public ::testing::Test {
  protected:
    TempDir dir;
    QWidget owner;
    RecordingPicker picker{&owner};
    ModalWatchdog watchdog;

    void TearDown() override { EXPECT_FALSE(watchdog.Fired()) << "a picker was left open"; }
};

TEST_F(FolderDialogTest, CancelGivesNoItemAndASecondBrowseWorksTheSame) {
    std::vector<QWidget*> windows;
    picker.onInitialized = [&](RecordingPicker& p) {
        windows.push_back(p.Window());
        EXPECT_EQ(p.Window()->parentWidget(), &owner);
        EXPECT_NE(p.Window()->windowModality(), Qt::NonModal);
        EXPECT_EQ(p.Window()->findChild<QLabel*>("browseTitle")->text(), "Select from directory");
        auto* status = p.Window()->findChild<QLabel*>("browseStatus");
        ASSERT_EQ(status != nullptr, windows.size() == 2);  // only the second asks for a status line
        p.SetStatusText("looking");
        EXPECT_TRUE(status == nullptr || status->text() == "looking");
        EXPECT_EQ(ListOf(p)->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(ListOf(p)->testOption(QFileDialog::DontUseNativeDialog));
        p.Cancel();
    };
    for (const unsigned flags : {0u, kBrowseStatusText}) {
        const FolderItemPtr item =
            picker.Browse("Select from directory", kBrowseOnlyFileSystemFolders | flags, nullptr, false);
        EXPECT_EQ(item, nullptr);
        EXPECT_EQ(CFolderDialog::PathFromItem(item.get()), "");
        EXPECT_EQ(picker.Window(), nullptr);
    }
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_TRUE(windows[0] != nullptr && windows[1] != nullptr);
    // The shell object comes before the dialog is up, once per Browse.
    EXPECT_EQ(picker.handled, (std::vector<unsigned>{kBrowseIUnknown, kBrowseInitialized, kBrowseIUnknown,
                                                     kBrowseInitialized}));
}

TEST_F(FolderDialogTest, ClickingAFolderAndChoosingGivesItsWholePath) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    picker.onInitialized = [&](RecordingPicker& p) {
        ListOf(p)->setDirectory(QString::fromStdString(dir.Path()));
        auto* view = ListOf(p)->findChild<QListView*>("listView");
        QModelIndex camera;
        WaitUntil([&] {
            const auto found = view->model()->match(view->model()->index(0, 0, view->rootIndex()),
                                                    Qt::DisplayRole, "camera", 1, Qt::MatchExactly);
            camera = found.isEmpty() ? QModelIndex() : found[0];
            return camera.isValid();
        });
        ASSERT_TRUE(camera.isValid());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(camera).center());
        p.Click(QDialogButtonBox::Open);
    };
    const FolderItemPtr item = picker.Browse("Select to directory", 5, nullptr, false);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(CFolderDialog::PathFromItem(item.get()), dir / "camera");
    EXPECT_EQ(picker.selections.back(), dir / "camera");
}

TEST_F(FolderDialogTest, UnknownCodesReachNoHandler) {
    for (const unsigned code : {0u, 4u, 6u, 99u, 0xffffffffu}) {
        EXPECT_EQ(picker.OnMessage(code, {}), 0) << code;
    }
    EXPECT_TRUE(picker.handled.empty());
    CFolderDialog plain(&owner);
    const std::string typed = "nowhere";
    EXPECT_EQ(plain.OnMessage(kBrowseValidateFailed, &typed), 1);  // by default the dialog stays open
    EXPECT_EQ(plain.OnMessage(kBrowseInitialized, {}), 0);
    EXPECT_EQ(plain.OnMessage(kBrowseSelChanged, {}), 0);
}

// A folder outside the root can't be chosen: the validate-failed handler decides what follows.
TEST_F(FolderDialogTest, ValidateFailedDecidesWhetherTheDialogStaysOpen) {
    MakeFolder(dir / "root");
    MakeFolder(dir / "outside");
    const FolderItem root{dir / "root", true};
    for (const bool keepOpen : {true, false}) {
        RecordingPicker one(&owner);
        one.keepOpenOnFailure = keepOpen;
        bool stayedOpen = false;
        one.onInitialized = [&](RecordingPicker& p) {
            EXPECT_EQ(ListOf(p)->directory().absolutePath().toStdString(), dir / "root");
            p.SetSelection(dir / "outside");
            p.Click(QDialogButtonBox::Open);
            if ((stayedOpen = p.Window() != nullptr && p.Window()->isVisible())) {
                p.Cancel();
            }
        };
        EXPECT_EQ(one.Browse("Select to directory", 5, &root, false), nullptr);
        EXPECT_EQ(one.failedTexts, std::vector<std::string>{dir / "outside"});
        EXPECT_EQ(stayedOpen, keepOpen);
    }
}

TEST_F(FolderDialogTest, FilterIsInstalledOnlyWhenAskedForAndDecidesWhatIsListed) {
    for (const char* name : {"visible", "secret", ".dotted"}) {
        MakeFolder(dir / name);
    }
    const FolderItem root{dir.Path(), true};
    std::vector<std::string> listed;
    picker.onInitialized = [&](RecordingPicker& p) {
        auto* proxy = static_cast<QSortFilterProxyModel*>(ListOf(p)->proxyModel());
        listed.clear();
        if (proxy == nullptr) {
            return p.Cancel();
        }
        EXPECT_TRUE(ListOf(p)->filter() & QDir::Hidden);
        auto* files = static_cast<QFileSystemModel*>(proxy->sourceModel());
        WaitUntil([&] {  // the folder is read in the background
            const QModelIndex folder = proxy->mapFromSource(files->index(QString::fromStdString(dir.Path())));
            listed.clear();
            for (int row = 0; row < proxy->rowCount(folder); ++row) {
                listed.push_back(proxy->index(row, 0, folder).data().toString().toStdString());
            }
            return listed.size() >= 2;
        });
        std::sort(listed.begin(), listed.end());
        p.Cancel();
    };
    picker.Browse("Select", 5, &root, false);
    EXPECT_TRUE(picker.proposedFlags.empty());
    EXPECT_TRUE(listed.empty());
    picker.Browse("Select", 5, &root, true);
    EXPECT_EQ(listed, (std::vector<std::string>{".dotted", "visible"}));
    ASSERT_FALSE(picker.proposedFlags.empty());
    EXPECT_TRUE(picker.proposedFlags[0] & kEnumFolders);
    EXPECT_FALSE(picker.proposedFlags[0] & kEnumHidden);
}

TEST(FolderDialogPath, IsWholeOrEmpty) {
    const std::string longest = "/" + std::string(258, 'a');
    EXPECT_EQ(CFolderDialog::PathFromItem(nullptr), "");
    const FolderItem items[] = {{longest, true}, {longest + "b", true}, {"remote:/photos", false}};
    EXPECT_EQ(CFolderDialog::PathFromItem(&items[0]), longest);
    EXPECT_EQ(CFolderDialog::PathFromItem(&items[1]), "");
    EXPECT_EQ(CFolderDialog::PathFromItem(&items[2]), "");
}

}  // namespace
