// A modal folder chooser: the user picks one folder in a tree of the file system, and the caller gets the
// chosen item back. Built as an extensible object: every notification of the running dialog reaches an
// overridable handler through OnMessage, and the object can act as a filter of what the dialog lists.
//
// Built on Qt's own (non-native) file dialog in folder mode, so the handlers and the filter work on every
// desktop. Objects of this kind need no identity or reference counting of their own: the filter is handed
// to the dialog as a plain pointer to this object, which outlives the dialog, and the owner of the object
// ends it. So there is no AddRef, Release or QueryInterface here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class QFileDialog;
class QLabel;
class QWidget;

// One item of the namespace the dialog shows. Every folder of the file system is one; anything else the
// dialog might offer (a location that is no local folder) is an item without a file-system path.
struct FolderItem {
    std::string path;        // the full path, bytes as the file system gives them
    bool fileSystem = true;  // a folder of the local file system
};
using FolderItemPtr = std::unique_ptr<FolderItem>;

class CFolderDialog;

// What the dialog offers a filter: a place to install it. The dialog lists only what the filter shows.
class FolderFilterSite {
  public:
    virtual ~FolderFilterSite() = default;
    virtual void SetFilter(CFolderDialog* filter) = 0;
};

// Notifications of the running dialog, as OnMessage receives them.
enum BrowseMessage : unsigned {
    kBrowseInitialized = 1,     // the dialog is up
    kBrowseSelChanged = 2,      // param: the newly selected item
    kBrowseValidateFailed = 3,  // param: the text that names no folder that can be chosen
    kBrowseIUnknown = 5,        // param: the dialog's filter site
};
// The parameter of a notification: which alternative it holds depends on the code.
using BrowseParam = std::variant<std::monostate, const FolderItem*, const std::string*, FolderFilterSite*>;

// Flags of Browse.
inline constexpr unsigned kBrowseOnlyFileSystemFolders = 0x0001;  // only file-system folders can be chosen
inline constexpr unsigned kBrowseStatusText = 0x0004;             // a status line under the title

// Enumeration flags that a filter may change for each folder the dialog lists.
inline constexpr unsigned kEnumFolders = 0x0020;
inline constexpr unsigned kEnumNonFolders = 0x0040;
inline constexpr unsigned kEnumHidden = 0x0080;

class CFolderDialog {
  public:
    // `owner` owns the dialog while it is up (required).
    explicit CFolderDialog(QWidget* owner);
    virtual ~CFolderDialog();
    CFolderDialog(const CFolderDialog&) = delete;
    CFolderDialog& operator=(const CFolderDialog&) = delete;

    // Shows the dialog modally until the user closes it. `title` is the text above the tree; `root`, when
    // given, is the top of the tree (the user can't leave it), otherwise the whole file system with the
    // mounted drives (MountedDrives) beside it; `filter`
    // makes this object the dialog's folder filter. Returns the chosen folder, or null when the user
    // cancelled. May be called again.
    FolderItemPtr Browse(const std::string& title, unsigned flags, const FolderItem* root, bool filter);

    // The item's file-system path; empty when there is no item, it is no file-system folder, or its path is
    // longer than the 259 characters that a folder text may hold (a path is never cut short).
    static std::string PathFromItem(const FolderItem* item);

    // The dialog for a notification: attaches this object to `dialogWindow`, then dispatches.
    static intptr_t BrowseCallback(QWidget* dialogWindow, unsigned code, BrowseParam param,
                                   CFolderDialog* object);

    // The dialog's window while it is up; null otherwise.
    QWidget* Window() const { return m_window; }

    // For handlers while the dialog is up: the status line's text (only with kBrowseStatusText), and the
    // folder that is selected and would be chosen (the selection-changed handler hears of it).
    void SetStatusText(const std::string& text);
    void SetSelection(const std::string& path);

    // One notification: calls the handler for `code` and returns the result for the dialog. Unknown codes
    // (4, a wide-text validation, among them) reach no handler and give 0.
    virtual intptr_t OnMessage(unsigned code, BrowseParam param);

    // The handlers. The defaults do nothing, except that OnBrowseIUnknown installs this object as the
    // filter when Browse was asked to, and OnBrowseValidateFailed keeps the dialog open (non-zero; zero
    // closes it with nothing chosen).
    virtual void OnBrowseInitialized() {}
    virtual void OnBrowseIUnknown(FolderFilterSite* site);
    virtual void OnBrowseSelChanged(const FolderItem* /*item*/) {}
    virtual bool OnBrowseValidateFailed(const std::string& /*text*/) { return true; }

    // The filter, while installed: which enumeration flags to use for `folder` (left as proposed by
    // default), and whether to show `item` of `folder` (shown by default).
    virtual void OnFilterEnumFlags(const FolderItem& /*folder*/, unsigned& /*flags*/) {}
    virtual bool OnFilterShouldShow(const FolderItem& /*folder*/, const FolderItem& /*item*/) { return true; }

  private:
    QWidget* m_owner;
    QWidget* m_window = nullptr;  // the dialog's window while it is up
    QFileDialog* m_files = nullptr;
    QLabel* m_status = nullptr;
    bool m_filterEnabled = false;
};

// The mount points in `mounts` (the text of /proc/self/mounts) where drives are mounted for users: under
// /media, /run/media and /mnt. In the order of the text.
std::vector<std::string> MountedDrives(std::string_view mounts);
