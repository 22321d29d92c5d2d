#include "app/HelpWindow.h"

#include <QKeyEvent>
#include <QScreen>
#include <algorithm>

#include "resources/AppResources.h"

namespace {
constexpr int kGap = 8;  // pixels between the main window and the help
}

HelpWindow::HelpWindow() : QTextBrowser(nullptr) {
    setObjectName(QStringLiteral("helpWindow"));
    // The page sets no colours of its own: its text is drawn in the palette's, and its table headers and
    // notes are shaded from the palette too, so that they stay readable on a dark desktop.
    document()->setDefaultStyleSheet(QStringLiteral("th, .note { background-color: %1; }")
                                         .arg(palette().color(QPalette::AlternateBase).name()));
    // The page's links lead to places on the page itself; the browser follows them.
    setSource(resources::HelpPageUrl());
    setWindowTitle(documentTitle());
    setWindowIcon(resources::AppIcon());
}

void HelpWindow::ShowBeside(const QWidget& main) {
    // About ninety characters wide and forty lines high in the desktop's font, where the screen has room.
    const QFontMetrics metrics = fontMetrics();
    const QRect frame = main.frameGeometry();
    const QMargins margins(main.geometry().left() - frame.left(), main.geometry().top() - frame.top(),
                           frame.right() - main.geometry().right(),
                           frame.bottom() - main.geometry().bottom());
    const QSize wanted = QSize(metrics.averageCharWidth() * 90, metrics.lineSpacing() * 40).grownBy(margins);
    const QRect place =
        Placement(frame, wanted, metrics.averageCharWidth() * 50, main.screen()->availableGeometry());
    setGeometry(place.marginsRemoved(margins));
    show();
}

QRect HelpWindow::Placement(const QRect& main, QSize wanted, int narrowest, const QRect& screen) {
    const QSize size = wanted.boundedTo(screen.size());
    const int right = screen.right() - main.right() - kGap;  // room beside the main window
    const int left = main.left() - screen.left() - kGap;
    QRect place(QPoint(screen.left(), main.top()), size);
    if (right >= size.width()) {
        place.moveLeft(main.right() + 1 + kGap);
    } else if (left >= size.width()) {
        place.moveRight(main.left() - 1 - kGap);
    } else if (std::max(left, right) >= narrowest) {
        place.setWidth(std::max(left, right));
        place.moveLeft(right >= left ? main.right() + 1 + kGap : screen.left());
    }
    place.moveTop(std::clamp(place.top(), screen.top(), screen.bottom() + 1 - place.height()));
    return place;
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QTextBrowser::keyPressEvent(event);
}
