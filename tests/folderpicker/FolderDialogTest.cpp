#include "folderpicker/FolderDialog.h"

#include <gtest/gtest.h>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <vector>

#include "tests/support/QtTestSupport.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

namespace {

QFileDialog* ListOf(const CFolderDialog& picker) {
    return picker.Window() != nullptr ? picker.Window()->findChild<QFileDialog*>() : nullptr;
}

QPushButton* ButtonOf(const CFolderDialog& picker, QDialogButtonBox::StandardButton which) {
    auto* box = ListOf(picker)->findChild<QDialogButtonBox*>();
    return box != nullptr ? box->button(which) : nullptr;
}

// A picker whose handlers record what reached them; `onInitialized` plays the user's part.
class RecordingPicker : public CFolderDialog {
  public:
    using CFolderDialog::CFolderDialog;

    std::function<void(RecordingPicker&)> onInitialized;
    std::vector<unsigned> handled;
    std::vector<std::string> selections;
    std::vector<std::string> failedTexts;
    std::vector<QWidget*> windows;
    bool keepOpenOnFailure = true;
    bool offeredSite = false;

    void OnBrowseInitialized() override {
        handled.push_back(kBrowseInitialized);
        windows.push_back(Window());
        if (onInitialized) {
            onInitialized(*this);
        }
    }
    void OnBrowseIUnknown(FolderFilterSite* site) override {
        handled.push_back(kBrowseIUnknown);
        offeredSite = site != nullptr;
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

    void Click(QDialogButtonBox::StandardButton which) {
        QTest::mouseClick(ButtonOf(*this, which), Qt::LeftButton);
    }
    void Choose() { Click(QDialogButtonBox::Open); }
    void Cancel() { Click(QDialogButtonBox::Cancel); }
};

class FolderDialogTest : public ::testing::Test {
  protected:
    TempDir dir;
    QWidget owner;
    ModalWatchdog watchdog;

    void TearDown() override { EXPECT_FALSE(watchdog.Fired()) << "a picker was left open"; }
};

TEST_F(FolderDialogTest, CancelGivesNoItemAndAnEmptyPath) {
    RecordingPicker picker(&owner);
    picker.onInitialized = [](RecordingPicker& p) { p.Cancel(); };
    const FolderItemPtr item =
        picker.Browse("Select from directory", kBrowseOnlyFileSystemFolders, nullptr, false);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(CFolderDialog::PathFromItem(item.get()), "");
    EXPECT_EQ(picker.Window(), nullptr);
}

TEST_F(FolderDialogTest, ChoosingAFolderGivesItsWholePath) {
    MakeFolder(dir / "camera");
    RecordingPicker picker(&owner);
    picker.onInitialized = [&](RecordingPicker& p) {
        p.SetSelection(dir / "camera");
        p.Choose();
    };
    const FolderItemPtr item = picker.Browse("Select to directory", 5, nullptr, false);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(CFolderDialog::PathFromItem(item.get()), dir / "camera");
    EXPECT_EQ(picker.selections, std::vector<std::string>{dir / "camera"});
}

TEST_F(FolderDialogTest, ClickingAFolderSelectsIt) {
    MakeFolder(dir / "camera");
    MakeFolder(dir / "computer");
    RecordingPicker picker(&owner);
    picker.onInitialized = [&](RecordingPicker& p) {
        ListOf(p)->setDirectory(QString::fromStdString(dir.Path()));
        auto* view = ListOf(p)->findChild<QListView*>("listView");
        ASSERT_NE(view, nullptr);
        QModelIndex camera;
        WaitUntil([&] {
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                const QModelIndex index = view->model()->index(row, 0, view->rootIndex());
                if (index.data().toString() == "camera") {
                    camera = index;
                }
            }
            return camera.isValid();
        });
        ASSERT_TRUE(camera.isValid());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(camera).center());
        p.Choose();
    };
    const FolderItemPtr item = picker.Browse("Select to directory", 5, nullptr, false);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->path, dir / "camera");
    EXPECT_NE(std::find(picker.selections.begin(), picker.selections.end(), dir / "camera"),
              picker.selections.end());
}

TEST_F(FolderDialogTest, ShowsTitleOwnerAndStatusLine) {
    for (const unsigned flags : {0u, kBrowseStatusText}) {
        RecordingPicker picker(&owner);
        bool checked = false;
        picker.onInitialized = [&](RecordingPicker& p) {
            QWidget* window = p.Window();
            EXPECT_EQ(window->parentWidget(), &owner);
            EXPECT_TRUE(window->isModal() || window->windowModality() != Qt::NonModal);
            EXPECT_EQ(window->findChild<QLabel*>("browseTitle")->text(), "Select from directory");
            auto* status = window->findChild<QLabel*>("browseStatus");
            EXPECT_EQ(status != nullptr, flags == kBrowseStatusText);
            p.SetStatusText("looking");
            if (status != nullptr) {
                EXPECT_EQ(status->text(), "looking");
            }
            EXPECT_EQ(ListOf(p)->fileMode(), QFileDialog::Directory);
            EXPECT_TRUE(ListOf(p)->testOption(QFileDialog::DontUseNativeDialog));
            checked = true;
            p.Cancel();
        };
        picker.Browse("Select from directory", kBrowseOnlyFileSystemFolders | flags, nullptr, false);
        EXPECT_TRUE(checked) << flags;
    }
}

TEST_F(FolderDialogTest, UnknownCodesReachNoHandler) {
    RecordingPicker picker(&owner);
    for (const unsigned code : {0u, 4u, 6u, 99u, 0xffffffffu}) {
        EXPECT_EQ(picker.OnMessage(code, {}), 0) << code;
    }
    EXPECT_TRUE(picker.handled.empty());

    CFolderDialog plain(&owner);
    const std::string typed = "nowhere";
    EXPECT_EQ(plain.OnMessage(kBrowseValidateFailed, &typed), 1);
    EXPECT_EQ(plain.OnMessage(kBrowseInitialized, {}), 0);
    EXPECT_EQ(plain.OnMessage(kBrowseSelChanged, {}), 0);
}

// A folder outside the root can't be chosen: the validate-failed handler decides what follows.
TEST_F(FolderDialogTest, ValidateFailedDecidesWhetherTheDialogStaysOpen) {
    MakeFolder(dir / "root");
    MakeFolder(dir / "outside");
    const FolderItem root{dir / "root", true};
    for (const bool keepOpen : {true, false}) {
        RecordingPicker picker(&owner);
        picker.keepOpenOnFailure = keepOpen;
        bool stayedOpen = false;
        picker.onInitialized = [&](RecordingPicker& p) {
            EXPECT_EQ(ListOf(p)->directory().absolutePath().toStdString(), dir / "root");
            p.SetSelection(dir / "outside");
            p.Choose();
            stayedOpen = p.Window() != nullptr && p.Window()->isVisible();
            if (stayedOpen) {
                p.Cancel();
            }
        };
        const FolderItemPtr item = picker.Browse("Select to directory", 5, &root, false);
        EXPECT_EQ(item, nullptr);
        ASSERT_EQ(picker.failedTexts.size(), 1u) << keepOpen;
        EXPECT_EQ(picker.failedTexts[0], dir / "outside");
        EXPECT_EQ(stayedOpen, keepOpen);
    }
}

TEST_F(FolderDialogTest, SecondBrowseAttachesToTheNewWindow) {
    RecordingPicker picker(&owner);
    picker.onInitialized = [](RecordingPicker& p) { p.Cancel(); };
    picker.Browse("one", 5, nullptr, false);
    EXPECT_EQ(picker.Window(), nullptr);
    picker.Browse("two", 5, nullptr, false);
    ASSERT_EQ(picker.windows.size(), 2u);
    EXPECT_NE(picker.windows[0], nullptr);
    EXPECT_NE(picker.windows[1], nullptr);
    EXPECT_EQ(picker.Window(), nullptr);
    // The shell object comes before the dialog is up, once per Browse.
    EXPECT_EQ(std::count(picker.handled.begin(), picker.handled.end(), kBrowseIUnknown), 2);
}

TEST_F(FolderDialogTest, FilterIsInstalledOnlyWhenAskedFor) {
    for (const bool filter : {false, true}) {
        RecordingPicker picker(&owner);
        bool installed = false;
        picker.onInitialized = [&](RecordingPicker& p) {
            installed = ListOf(p)->proxyModel() != nullptr;
            p.Cancel();
        };
        picker.Browse("Select", 5, nullptr, filter);
        EXPECT_TRUE(picker.offeredSite);
        EXPECT_EQ(installed, filter);
    }
}

// A filter that hides one folder and asks for hidden folders to be listed too.
class HidingPicker : public RecordingPicker {
  public:
    using RecordingPicker::RecordingPicker;
    std::vector<unsigned> proposedFlags;

    void OnFilterEnumFlags(const FolderItem& /*folder*/, unsigned& flags) override {
        proposedFlags.push_back(flags);
        flags |= kEnumHidden;
    }
    bool OnFilterShouldShow(const FolderItem& /*folder*/, const FolderItem& item) override {
        return item.path.find("secret") == std::string::npos;
    }
};

TEST_F(FolderDialogTest, FilterDecidesWhatIsListed) {
    MakeFolder(dir / "root");
    MakeFolder(dir / "root/visible");
    MakeFolder(dir / "root/secret");
    MakeFolder(dir / "root/.dotted");
    const FolderItem root{dir / "root", true};
    HidingPicker picker(&owner);
    std::vector<std::string> listed;
    picker.onInitialized = [&](RecordingPicker& p) {
        QAbstractItemModel* model = ListOf(p)->proxyModel();
        ASSERT_NE(model, nullptr);
        EXPECT_TRUE(ListOf(p)->filter() & QDir::Hidden);
        // The folder's entries are read in the background.
        const auto names = [&] {
            std::vector<std::string> found;
            auto* proxy = static_cast<QSortFilterProxyModel*>(model);
            auto* files = static_cast<QFileSystemModel*>(proxy->sourceModel());
            const QModelIndex folder =
                proxy->mapFromSource(files->index(QString::fromStdString(dir / "root")));
            for (int row = 0; row < proxy->rowCount(folder); ++row) {
                found.push_back(proxy->index(row, 0, folder).data().toString().toStdString());
            }
            std::sort(found.begin(), found.end());
            return found;
        };
        WaitUntil([&] { return names().size() >= 2; });
        listed = names();
        p.Cancel();
    };
    picker.Browse("Select", 5, &root, true);
    EXPECT_EQ(listed, (std::vector<std::string>{".dotted", "visible"}));
    ASSERT_FALSE(picker.proposedFlags.empty());
    EXPECT_TRUE(picker.proposedFlags[0] & kEnumFolders);
    EXPECT_FALSE(picker.proposedFlags[0] & kEnumHidden);
}

TEST(FolderDialogPath, IsWholeOrEmpty) {
    const std::string longest = "/" + std::string(258, 'a');
    const struct {
        FolderItem item;
        std::string path;
    } cases[] = {
        {{"/media/card/DCIM", true}, "/media/card/DCIM"},
        {{longest, true}, longest},
        {{longest + "b", true}, ""},
        {{"remote:/photos", false}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CFolderDialog::PathFromItem(&c.item), c.path) << c.item.path.size();
    }
    EXPECT_EQ(CFolderDialog::PathFromItem(nullptr), "");
}

}  // namespace
