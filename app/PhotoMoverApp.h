// The application object: starts the program, runs the main window and shows the help.
#pragma once

#include <QObject>
#include <memory>

#include "app/PhotoMoverDlg.h"

class HelpWindow;
class QWidget;
class UserPrompts;

class CPhotoMoverApp : public QObject {
    Q_OBJECT
  public:
    // What the main window is made with: the passes OK runs, the settings file, and optionally who answers
    // its boxes and its folder picker (see CPhotoMoverDlg).
    explicit CPhotoMoverApp(TransferPasses passes, SettingsFile settings = SettingsFile(),
                            UserPrompts* prompts = nullptr);
    ~CPhotoMoverApp() override;

    // The program's start-up: shows the main window modally and returns false once it has closed and is
    // gone, so that the program ends at once.
    bool InitInstance();

    // The main window while it runs; null before and after.
    CPhotoMoverDlg* MainWindow() const { return m_pMainWnd; }
    // The help window while it is shown; null otherwise.
    QWidget* HelpWindow() const;

  public slots:
    // The Help command: opens the help window, or brings it to the front when it is open already.
    void OnHelp();
    // Closes the help window, if one is open.
    void CloseHelp();

  private:
    TransferPasses m_passes;
    SettingsFile m_settings;
    UserPrompts* m_prompts;
    CPhotoMoverDlg* m_pMainWnd = nullptr;
    std::unique_ptr<::HelpWindow> m_help;
    std::unique_ptr<transfer::DiskService> m_disks;  // the desktop's, for the main window
    std::unique_ptr<desktop::Notifier> m_notifier;
};
