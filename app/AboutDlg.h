// The about box: the program's icon, its name and version, and OK.
#pragma once

#include <QDialog>
#include <memory>

class DialogForm;

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    // Modal over `parent` when run with exec(); it closes with OK, Esc or its close button.
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<DialogForm> m_form;
};
