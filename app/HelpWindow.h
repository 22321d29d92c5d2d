// The program's help page in a window of its own, beside the main window.
#pragma once

#include <QTextBrowser>

class HelpWindow : public QTextBrowser {
    Q_OBJECT
  public:
    // A top-level window showing the bundled help page, titled with the page's title.
    HelpWindow();

  protected:
    void keyPressEvent(QKeyEvent* event) override;  // Esc closes it
};
