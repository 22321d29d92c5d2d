#include "app/HelpWindow.h"

#include <QKeyEvent>

#include "resources/AppResources.h"

HelpWindow::HelpWindow() : QTextBrowser(nullptr) {
    setObjectName(QStringLiteral("helpWindow"));
    // The page's links lead to places on the page itself; the browser follows them.
    setSource(resources::HelpPageUrl());
    setWindowTitle(documentTitle());
    setWindowIcon(resources::AppIcon());
    // About ninety characters wide and forty lines high in the desktop's font.
    const QFontMetrics metrics = fontMetrics();
    resize(metrics.averageCharWidth() * 90, metrics.lineSpacing() * 40);
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QTextBrowser::keyPressEvent(event);
}
