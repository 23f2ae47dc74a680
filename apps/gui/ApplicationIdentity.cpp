#include "ApplicationIdentity.h"

#include <openssl/crypto.h>
#include <sqlite3.h>
#include <unicode/uversion.h>
#include <zlib.h>

#include <QGuiApplication>
#include <QIcon>
#include <QtGlobal>
#include <pugixml.hpp>

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

std::vector<LibraryNotice> libraryNotices() {
    UVersionInfo icu{};
    u_getVersion(icu);
    char icuVersion[U_MAX_VERSION_STRING_LENGTH] = {};
    u_versionToString(icu, icuVersion);
    return {
        {QStringLiteral("Qt"), QString::fromLatin1(qVersion()),
         QStringLiteral("LGPL-3.0-only OR GPL-2.0-or-later")},
        {QStringLiteral("ICU"), QString::fromLatin1(icuVersion), QStringLiteral("Unicode-3.0")},
        {QStringLiteral("SQLite"), QString::fromLatin1(sqlite3_libversion()),
         QStringLiteral("blessing (public domain)")},
        {QStringLiteral("zlib"), QString::fromLatin1(zlibVersion()), QStringLiteral("Zlib")},
        {QStringLiteral("OpenSSL (libcrypto)"),
         QString::fromLatin1(OpenSSL_version(OPENSSL_VERSION_STRING)),
         QStringLiteral("Apache-2.0")},
        {QStringLiteral("uchardet"), QString(),
         QStringLiteral("MPL-1.1 OR GPL-2.0-or-later OR LGPL-2.1-or-later")},
        {QStringLiteral("CLD2"), QString(), QStringLiteral("Apache-2.0")},
        {QStringLiteral("pugixml"),
         QStringLiteral("%1.%2").arg(PUGIXML_VERSION / 1000).arg(PUGIXML_VERSION % 1000 / 10),
         QStringLiteral("MIT")},
        {QStringLiteral("libplist"), QString(), QStringLiteral("LGPL-2.1-or-later")},
        {QStringLiteral("stb"), QString(), QStringLiteral("MIT OR Unlicense")},
        {QStringLiteral("libcurl"), QString(), QStringLiteral("curl")},
        {QStringLiteral("libsecret"), QString(), QStringLiteral("LGPL-2.1-or-later")},
    };
}

}  // namespace pelkora::gui
