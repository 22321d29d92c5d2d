// The files bundled into the window program: its icon in every size and its help page.
#pragma once

#include <QIcon>
#include <QUrl>

namespace resources {

// Makes the bundled files available under ":/icons/" and ":/help/". Call it once before using anything
// below (further calls do nothing): the files sit in a static library, and without a call into it the
// linker would leave them out of the program.
void InitAppResources();

// The program's icon: pixel art in 16 colours at 16 and 32 pixels, the scalable artwork rendered at 48 to
// 256 pixels for large task switchers and docks.
QIcon AppIcon();

// The help page. Open it with QTextBrowser::setSource so that the page's pictures resolve beside it.
QUrl HelpPageUrl();

}  // namespace resources
