// The main window: the camera folder, the destination folder, the naming options, "Send Files To Zip", a
// status line and OK, Cancel and Help. OK runs one transfer pass on a thread of its own, with its progress
// in the status line; the window stays open for the next. While a pass runs only Cancel (which stops it and
// then closes the window) and Help take input.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/TransferRun.h"

class DialogForm;
class HistoryMenu;
class PreviewDlg;
class QAction;
class QLineEdit;
class QAbstractButton;
class QMenu;
class UserPrompts;
namespace desktop {
class Notifier;
}

// The desktop's services the window uses after a transfer: none unless the start-up gives the real ones.
struct DesktopServices {
    transfer::DiskService* disks = nullptr;  // ejects the card, when the settings say so
    desktop::Notifier* notifier =
        nullptr;  // tells of a transfer that ended while the window was not in front
    std::chrono::milliseconds notifyAfter{5000};  // ... and that ran at least this long
};

class CPhotoMoverDlg : public QDialog {
    Q_OBJECT
  public:
    // `settings` is the settings file the window reads and writes; `prompts`, when given, answers the
    // message boxes and the folder picker instead of the user (it must outlive the window).
    explicit CPhotoMoverDlg(TransferPasses passes, SettingsFile settings = SettingsFile(),
                            UserPrompts* prompts = nullptr, QWidget* parent = nullptr);
    ~CPhotoMoverDlg() override;

    // The desktop's services to use from now on; each must outlive the window.
    void SetDesktop(const DesktopServices& services) { m_desktop = services; }

    // What made a control send a command.
    enum Notification { kClicked, kSetFocus, kKillFocus, kChange };

    // Exchanges the fields with the form: reads the form into the fields with `saveAndValidate`, else
    // shows the fields in the form. False when the exchange failed.
    bool UpdateData(bool saveAndValidate = true);

    // A control of the form by its id; null when the form has none.
    QWidget* GetDlgItem(int id) const;

    // OK and Cancel, however they are given (Enter, Esc, the close button), go the way of every command.
    void accept() override;
    void reject() override;

    // The window menu: the window's context menu, which stands in for a system menu (see AddAboutEntry).
    QMenu* GetSystemMenu() const { return m_systemMenu; }
    // Every command of the window menu. The About entry, IDM_ABOUTBOX whatever its low four bits, shows the
    // about box; IDM_OPTIONS the Options dialog (not while a transfer runs); the others get the standard
    // handling: SC_CLOSE closes the window the way Esc does.
    void OnSysCommand(unsigned command, long long parameter);

  signals:
    // The Help button and F1: the window does not handle them; the application shows the help.
    void helpRequested();
    // The window is being destroyed: any help it opened should close.
    void helpCloseRequested();

  protected:
    virtual void DoDataExchange(bool saveAndValidate);
    virtual bool OnInitDialog();
    // Every command notification of every control comes here first: the enabling rules, then its handler.
    virtual bool OnCommand(int id, Notification notification);

    void OnBrowseFrom();
    void OnBrowseTo();
    void OnAppendNumber();
    void OnOK();
    void OnCancel();
    void OnPreview();  // "Preview..." in the window menu, and F5
    void OnDestroy();

    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool Transferring() const { return m_run != nullptr; }
    bool ReadFormForTransfer();
    RunRequest RequestFromForm() const;
    // Runs the pass the form asks for; with `onlyListed`, on only those files (see transfer::PassOptions).
    void StartTransfer(std::optional<std::set<std::string>> onlyListed);
    void RefreshPreview();
    void OnPreviewOk();
    void ApplyEnablingRules(int id, Notification notification);
    void OnPassProgress(qulonglong handled, qulonglong total);
    void OnPassFinished();
    void LockForm(bool locked);
    void SetStatus(const std::string& status);
    void CreateSystemMenu();
    void AddAboutEntry();
    void OnOptions();
    void NotifyIfAway(const transfer::TransferReport& report, bool archived);
    void ConnectCommands();
    bool HandleCommand(int id, Notification notification);
    void OnBrowse(const std::string& title, int editId, const char* settingsKey);
    bool IsChecked(int id) const;
    void SetItemText(int id, const std::string& text);
    int MessageBox(const std::string& text, unsigned style);
    void ReportOutcome(const transfer::TransferReport& report, bool archived, bool stopped);

    // Data exchange steps: attach a control, the option of a radio group, the text of a control.
    template <typename Control>
    void DDX_Control(int id, Control*& control);
    void DDX_Radio(bool saveAndValidate, int firstId, int& value);
    void DDX_Text(bool saveAndValidate, int id, std::string& value);

    // Attached by the first data exchange.
    QLineEdit* m_editNumber = nullptr;
    QLineEdit* m_editText = nullptr;
    QLineEdit* m_editRenameNew = nullptr;
    QLineEdit* m_editRenameFind = nullptr;
    QAbstractButton* m_radioText = nullptr;
    QAbstractButton* m_radioDate = nullptr;
    QAbstractButton* m_radioNumber = nullptr;
    QAbstractButton* m_radioRename = nullptr;
    // Copies of the form, as of the last data exchange.
    std::string m_strFromDir;
    std::string m_strToDir;
    std::string m_strStatus;
    transfer::NameOption m_nNameOption = transfer::kNameNothing;
    QIcon m_hIcon;  // the window's icon; the desktop draws it for the minimised window and its drag image

    std::unique_ptr<DialogForm> m_form;
    QMenu* m_systemMenu = nullptr;
    HistoryMenu* m_history = nullptr;
    QAction* m_previewEntry = nullptr;  // entries of the window menu, owned by it
    QAction* m_optionsEntry = nullptr;
    PreviewDlg* m_preview = nullptr;  // made when first asked for
    DesktopServices m_desktop;
    std::chrono::steady_clock::time_point m_passStart;
    TransferPasses m_passes;
    std::unique_ptr<TransferRun> m_run;  // the pass that runs now
    std::string m_savedCounter;          // the counter as the number box last showed it from the settings
    bool m_runArchives = false;          // it is the archive pass
    bool m_closeAfterPass = false;       // Cancel came during the pass
    size_t m_passTotal = 0;              // the files the pass takes, as its progress last said
    QPointer<QWidget> m_focusBeforePass;
    SettingsFile m_settings;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts* m_prompts;
    std::string m_appName;  // the caption of every message box
    bool m_exchangeFailed = false;
    bool m_opened = false;
};
