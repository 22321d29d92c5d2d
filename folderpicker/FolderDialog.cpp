#include "folderpicker/FolderDialog.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "folderpicker/NarrowText.h"

namespace {

constexpr size_t kMaxPathLength = 259;

FolderItem ItemFor(const QString& path) {
    return FolderItem{ToNarrow(path), true};
}

bool IsWithin(const QString& path, const QString& root) {
    if (root.isEmpty() || path == root || root == QStringLiteral("/")) {
        return true;
    }
    return path.startsWith(root + u'/');
}

// The file list of the dialog. The choice is checked here, before the list closes: what is no folder (or
// lies outside the root) goes to the validate-failed handler, which decides whether the dialog stays open.
class FolderList : public QFileDialog {
  public:
    FolderList(QWidget* parent, CFolderDialog* owner, QString root)
        : QFileDialog(parent), m_owner(owner), m_root(std::move(root)) {}

    const QString& Chosen() const { return m_chosen; }

    void accept() override {
        const QString path = selectedFiles().value(0);
        const QFileInfo info(path);
        if (!path.isEmpty() && info.isDir() && IsWithin(info.absoluteFilePath(), m_root)) {
            m_chosen = QDir::cleanPath(info.absoluteFilePath());
            QFileDialog::accept();
            return;
        }
        const std::string text = ToNarrow(path);
        if (CFolderDialog::BrowseCallback(window(), kBrowseValidateFailed, &text, m_owner) == 0) {
            reject();
        }
    }

  private:
    CFolderDialog* m_owner;
    QString m_root;
    QString m_chosen;
};

// Lists only what the installed filter shows.
class FilterProxy : public QSortFilterProxyModel {
  public:
    FilterProxy(CFolderDialog* filter, QObject* parent) : QSortFilterProxyModel(parent), m_filter(filter) {}

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files == nullptr) {
            return true;
        }
        const QModelIndex index = files->index(row, 0, parent);
        return m_filter->OnFilterShouldShow(ItemFor(files->filePath(parent)),
                                            ItemFor(files->filePath(index)));
    }

  private:
    CFolderDialog* m_filter;
};

// Asks the filter which entries to list in `folder` and applies its answer to the list.
void ApplyEnumFlags(CFolderDialog* filter, QFileDialog* list, const QString& folder) {
    const QDir::Filters proposed = list->filter();
    unsigned flags = kEnumFolders;
    if (proposed & QDir::Files) {
        flags |= kEnumNonFolders;
    }
    if (proposed & QDir::Hidden) {
        flags |= kEnumHidden;
    }
    filter->OnFilterEnumFlags(ItemFor(folder), flags);

    QDir::Filters wanted = proposed & ~QDir::Filters(QDir::Dirs | QDir::AllDirs | QDir::Files | QDir::Hidden);
    if (flags & kEnumFolders) {
        wanted |= QDir::Dirs | QDir::AllDirs;
    }
    if (flags & kEnumNonFolders) {
        wanted |= QDir::Files;
    }
    if (flags & kEnumHidden) {
        wanted |= QDir::Hidden;
    }
    if (wanted != proposed) {
        list->setFilter(wanted);
    }
}

// The drives mounted now, for the sidebar: a card reader's card is where a camera folder usually is.
QList<QUrl> DriveUrls() {
    std::ifstream file("/proc/self/mounts");
    std::stringstream mounts;
    mounts << file.rdbuf();
    QList<QUrl> urls;
    for (const std::string& drive : MountedDrives(mounts.str())) {
        urls.push_back(QUrl::fromLocalFile(FromNarrow(drive)));
    }
    return urls;
}

class ListFilterSite : public FolderFilterSite {
  public:
    explicit ListFilterSite(QFileDialog* list) : m_list(list) {}

    void SetFilter(CFolderDialog* filter) override {
        if (filter == nullptr || m_installed) {
            return;
        }
        m_installed = true;
        auto* proxy = new FilterProxy(filter, m_list);
        m_list->setProxyModel(proxy);
        ApplyEnumFlags(filter, m_list, m_list->directory().absolutePath());
        QObject::connect(
            m_list, &QFileDialog::directoryEntered, proxy,
            [filter, list = m_list](const QString& folder) { ApplyEnumFlags(filter, list, folder); });
    }

  private:
    QFileDialog* m_list;
    bool m_installed = false;
};

}  // namespace

CFolderDialog::CFolderDialog(QWidget* owner) : m_owner(owner) {}

CFolderDialog::~CFolderDialog() = default;

FolderItemPtr CFolderDialog::Browse(const std::string& title, unsigned flags, const FolderItem* root,
                                    bool filter) {
    m_filterEnabled = filter;
    const QString rootPath = root != nullptr && root->fileSystem && !root->path.empty()
                                 ? QDir::cleanPath(FromNarrow(root->path))
                                 : QString();

    QDialog window(m_owner);
    window.setObjectName(QStringLiteral("folderBrowser"));
    window.setWindowTitle(QStringLiteral("Choose a Folder"));
    auto* layout = new QVBoxLayout(&window);

    auto* titleLabel = new QLabel(FromNarrow(title), &window);
    titleLabel->setObjectName(QStringLiteral("browseTitle"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setWordWrap(true);
    layout->addWidget(titleLabel);

    QLabel* status = nullptr;
    if (flags & kBrowseStatusText) {
        status = new QLabel(&window);
        status->setObjectName(QStringLiteral("browseStatus"));
        status->setTextFormat(Qt::PlainText);
        layout->addWidget(status);
    }

    // Qt's own dialog, so that the filter and the handlers work on every desktop. It lists folders of the
    // file system only, so the restriction to file-system folders always holds.
    auto* list = new FolderList(&window, this, rootPath);
    list->setObjectName(QStringLiteral("browseList"));
    list->setWindowFlags(Qt::Widget);
    list->setOption(QFileDialog::DontUseNativeDialog);
    list->setFileMode(QFileDialog::Directory);
    list->setOption(QFileDialog::ShowDirsOnly);
    // Labels and buttons worded as the main window's, with their mnemonics.
    list->setLabelText(QFileDialog::LookIn, QStringLiteral("Look &In:"));
    list->setLabelText(QFileDialog::FileName, QStringLiteral("&Folder:"));
    list->setLabelText(QFileDialog::FileType, QStringLiteral("Files Of &Type:"));
    list->setLabelText(QFileDialog::Accept, QStringLiteral("&OK"));
    list->setLabelText(QFileDialog::Reject, QStringLiteral("&Cancel"));
    list->setDirectory(rootPath.isEmpty() ? QDir::homePath() : rootPath);
    if (rootPath.isEmpty()) {
        list->setSidebarUrls(list->sidebarUrls() + DriveUrls());
    } else {
        list->setSidebarUrls({QUrl::fromLocalFile(rootPath)});
        QObject::connect(list, &QFileDialog::directoryEntered, list, [list, rootPath](const QString& folder) {
            if (!IsWithin(QDir::cleanPath(folder), rootPath)) {
                list->setDirectory(rootPath);
            }
        });
    }
    layout->addWidget(list);
    list->setVisible(true);

    QObject::connect(list, &QDialog::finished, &window, &QDialog::done);
    const auto selectionChanged = [this, &window](const QString& path) {
        if (path.isEmpty()) {
            return;
        }
        const FolderItem item = ItemFor(QDir::cleanPath(path));
        BrowseCallback(&window, kBrowseSelChanged, &item, this);
    };
    QObject::connect(list, &QFileDialog::currentChanged, &window, selectionChanged);
    QObject::connect(list, &QFileDialog::directoryEntered, &window, selectionChanged);

    m_files = list;
    m_status = status;
    ListFilterSite site(list);
    BrowseCallback(&window, kBrowseIUnknown, &site, this);
    // Sent once the dialog runs, so that a handler may already end it.
    QTimer::singleShot(0, &window,
                       [this, &window] { BrowseCallback(&window, kBrowseInitialized, {}, this); });
    const int result = window.exec();

    FolderItemPtr chosen;
    if (result == QDialog::Accepted && !list->Chosen().isEmpty()) {
        chosen = std::make_unique<FolderItem>(ItemFor(list->Chosen()));
    }
    m_files = nullptr;
    m_status = nullptr;
    m_window = nullptr;
    return chosen;
}

std::string CFolderDialog::PathFromItem(const FolderItem* item) {
    if (item == nullptr || !item->fileSystem || item->path.size() > kMaxPathLength) {
        return {};
    }
    return item->path;
}

intptr_t CFolderDialog::BrowseCallback(QWidget* dialogWindow, unsigned code, BrowseParam param,
                                       CFolderDialog* object) {
    if (object == nullptr) {
        return 0;
    }
    object->m_window = dialogWindow;
    return object->OnMessage(code, param);
}

void CFolderDialog::SetStatusText(const std::string& text) {
    if (m_status != nullptr) {
        m_status->setText(FromNarrow(text));
    }
}

void CFolderDialog::SetSelection(const std::string& path) {
    if (m_files == nullptr || m_window == nullptr) {
        return;
    }
    m_files->selectFile(FromNarrow(path));
    const FolderItem item = ItemFor(QDir::cleanPath(FromNarrow(path)));
    BrowseCallback(m_window, kBrowseSelChanged, &item, this);
}

intptr_t CFolderDialog::OnMessage(unsigned code, BrowseParam param) {
    switch (code) {
        case kBrowseInitialized:
            OnBrowseInitialized();
            return 0;
        case kBrowseSelChanged: {
            const auto* item = std::get_if<const FolderItem*>(&param);
            OnBrowseSelChanged(item != nullptr ? *item : nullptr);
            return 0;
        }
        case kBrowseValidateFailed: {
            const auto* text = std::get_if<const std::string*>(&param);
            const std::string typed = text != nullptr && *text != nullptr ? **text : std::string();
            return OnBrowseValidateFailed(typed) ? 1 : 0;
        }
        case kBrowseIUnknown: {
            auto* const* site = std::get_if<FolderFilterSite*>(&param);
            OnBrowseIUnknown(site != nullptr ? *site : nullptr);
            return 0;
        }
        default:
#ifndef NDEBUG
            std::fprintf(stderr, "***Warning: unknown message %d in CFolderDialog::OnMessage\n",
                         static_cast<int>(code));
#endif
            return 0;
    }
}

void CFolderDialog::OnBrowseIUnknown(FolderFilterSite* site) {
    if (site != nullptr && m_filterEnabled) {
        site->SetFilter(this);
    }
}

std::vector<std::string> MountedDrives(std::string_view mounts) {
    std::vector<std::string> drives;
    std::istringstream lines{std::string(mounts)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string device, written, point;
        fields >> device >> written;
        // A blank, tab, line break or backslash in a mount point is written as "\" and three octal digits.
        for (size_t i = 0; i < written.size(); ++i) {
            if (written[i] == '\\' && i + 3 < written.size() &&
                written.find_first_not_of("01234567", i + 1) > i + 3) {
                point += static_cast<char>(std::stoi(written.substr(i + 1, 3), nullptr, 8));
                i += 3;
            } else {
                point += written[i];
            }
        }
        const bool drive = point == "/mnt" || (point.starts_with("/mnt/") && point.size() > 5) ||
                           (point.starts_with("/media/") && point.size() > 7) ||
                           (point.starts_with("/run/media/") && point.size() > 11);
        if (drive) {
            drives.push_back(point);
        }
    }
    return drives;
}
