// What OK would do with the form as it stands, before anything is moved: every file the transfer would take,
// its old and new name and what would become of it, with the counts the transfer would report. The list is
// made by the transfer itself in a dry run, off the window's thread.
#pragma once

#include <QDialog>
#include <memory>
#include <set>
#include <string>

#include "app/TransferRun.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class PreviewDlg : public QDialog {
    Q_OBJECT
  public:
    explicit PreviewDlg(QWidget* parent);
    ~PreviewDlg() override;

    // Lists what `request` would do (a dry run is made of it), anew: a listing under way is given up.
    void List(RunRequest request, bool archive);

    // The camera folder's files the last listing took (their paths below the camera folder), and the
    // running number it started from; valid once it is complete.
    const std::set<std::string>& Listed() const { return m_listed; }
    const std::string& NumberListedFrom() const { return m_number; }
    bool Complete() const { return m_complete; }

  signals:
    // OK: run the transfer listed.
    void runRequested();

  private:
    void OnProgress(qulonglong handled, qulonglong total);
    void OnListed();

    QTreeWidget* m_list;
    QLabel* m_count;
    QPushButton* m_ok;
    std::unique_ptr<TransferRun> m_run;
    unsigned m_listing = 0;  // which listing runs now
    bool m_archive = false;
    bool m_complete = false;
    std::set<std::string> m_listed;
    std::string m_number;
};
