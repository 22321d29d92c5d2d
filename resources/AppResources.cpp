#include "resources/AppResources.h"

#include <QSize>
#include <QString>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterBundledFiles() {
    Q_INIT_RESOURCE(tovaro);
}

namespace resources {

namespace {
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};
}

void InitAppResources() {
    static const bool registered = (RegisterBundledFiles(), true);
    (void)registered;
}

QIcon AppIcon() {
    InitAppResources();
    QIcon icon;
    for (int size : kIconSizes) {
        icon.addFile(QStringLiteral(":/icons/tovaro-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QUrl HelpPageUrl() {
    InitAppResources();
    return QUrl(QStringLiteral("qrc:/help/tovaro-help.html"));
}

}  // namespace resources
