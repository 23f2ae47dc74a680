#include "ApplicationIdentity.h"

#include <QGuiApplication>
#include <QIcon>

namespace pelkora::gui {

void setUpApplicationIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("pelkora"));
    QCoreApplication::setApplicationName(QStringLiteral("pelkora-gui"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELKORA_VERSION));
    QGuiApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationDisplayName));
    // Wayland compositors match the window to the desktop file (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kApplicationId)));
}

QString applicationNameAndVersion() {
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(kApplicationDisplayName),
                                       QStringLiteral(PELKORA_VERSION));
}

}  // namespace pelkora::gui
