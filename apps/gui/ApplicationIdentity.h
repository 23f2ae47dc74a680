#pragma once

// Who the program is to the desktop: one reverse-DNS application id for the desktop file,
// the metainfo, the icon and the window's app id, and the names QSettings files itself under.

#include <QString>
#include <vector>

namespace pelkora::gui {

// The id the desktop file, the metainfo file and the icon are named after.
inline constexpr char kApplicationId[] = "org.pelkora.Pelkora";
inline constexpr char kApplicationDisplayName[] = "Pelkora";

// Names the application (display name, version, desktop file name, window icon). The
// window's own state (size, recent files) goes through QSettings to
// $XDG_CONFIG_HOME/pelkora/pelkora-gui.conf, next to the session's settings.plist.
void setUpApplicationIdentity();

// "Pelkora 0.1.0".
QString applicationNameAndVersion();

// A library the program is built on, for the About box.
struct LibraryNotice {
    QString name;
    QString version;  // the version running, or the one built against; empty if neither is known
    QString licence;  // an SPDX expression
};
std::vector<LibraryNotice> libraryNotices();

}  // namespace pelkora::gui
