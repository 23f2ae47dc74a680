#include "ApplicationIdentity.h"

#include <QGuiApplication>
#include <QIcon>

// The icon is compiled into the program too, for a window shown before (or without) the
// installed icon theme; a static library's resources are registered by hand.
static void registerResources() {
    Q_INIT_RESOURCE(pelkora_gui);
}

namespace pelkora::gui {

void setUpApplicationIdentity() {
    registerResources();
    QCoreApplication::setOrganizationName(QStringLiteral("pelkora"));
    QCoreApplication::setApplicationName(QStringLiteral("pelkora-gui"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELKORA_VERSION));
    QGuiApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationDisplayName));
    // Wayland compositors match the window to the desktop file (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(kApplicationId),
                         QIcon(QStringLiteral(":/icons/%1.svg").arg(kApplicationId))));
}

QString applicationNameAndVersion() {
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(kApplicationDisplayName),
                                       QStringLiteral(PELKORA_VERSION));
}

}  // namespace pelkora::gui
