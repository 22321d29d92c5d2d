// The program's help page in a window of its own, beside the main window.
#pragma once

#include <QRect>
#include <QTextBrowser>

class HelpWindow : public QTextBrowser {
    Q_OBJECT
  public:
    // A top-level window showing the bundled help page, titled with the page's title, in the colours of the
    // desktop's palette (light or dark).
    HelpWindow();

    // Shows the window beside `main`, sized to fit the screen.
    void ShowBeside(const QWidget& main);

    // Where a window of `wanted` size (frame included) goes beside the frame `main` on the `screen`: to the
    // right of it when there is room, else to the left, else on the side with more room, narrowed to fit it
    // but no narrower than `narrowest`, else at the screen's left edge. Always wholly on the screen.
    static QRect Placement(const QRect& main, QSize wanted, int narrowest, const QRect& screen);

  protected:
    void keyPressEvent(QKeyEvent* event) override;  // Esc closes it
};
