// The Options dialog of the window menu: the settings keys that choose what a transfer does (which files it
// takes, the card's subfolders, the date of Date of Photo, dated folders, ejecting the card), in plain
// words, and where the settings file is. OK stores them all at once; Cancel changes nothing.
#pragma once

#include <QDialog>
#include <string>

#include "settings/SettingsFile.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class UserPrompts;

class COptionsDlg : public QDialog {
    Q_OBJECT
  public:
    // Shows what `settings` holds now; `prompts` shows its message boxes and opens folders.
    COptionsDlg(SettingsFile settings, UserPrompts& prompts, const std::string& caption, QWidget* parent);

    // OK: stores every key in one replacement of the settings file and closes; a value the file can't hold
    // or a transfer can't use is refused with the reason, and the dialog stays open with nothing stored.
    void accept() override;

    // The keys and values the dialog shows now, as they would be stored.
    SettingsFile::Values Values() const;

  private:
    void Load();
    void OnTodaysFiles(bool checked);
    void ShowTodaysFiles();
    void ShowFolderExample();

    SettingsFile m_settings;
    UserPrompts& m_prompts;
    std::string m_caption;
    QCheckBox* m_todaysFiles = nullptr;
    QLineEdit* m_moveExtensions = nullptr;
    QLineEdit* m_zipExtensions = nullptr;
    QCheckBox* m_recurse = nullptr;
    QRadioButton* m_dateFromFile = nullptr;
    QRadioButton* m_dateFromCapture = nullptr;
    QCheckBox* m_datedFolders = nullptr;
    QLineEdit* m_folderPattern = nullptr;
    QLabel* m_folderExample = nullptr;
    QCheckBox* m_eject = nullptr;
    QCheckBox* m_compressionFast = nullptr;
};
