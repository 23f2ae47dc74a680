#pragma once

// Switching the sharing of saved mappings on or off from a window: the checkbox that asked
// reads "Enabling sharing…" or "Disabling sharing…" and the window's controls wait, then the
// place is opened and the store switched (enableSharing / disableSharing), and the outcome is
// reported: on or off, and the alert to show when switching on failed. A typed WebDAV password
// is kept in the Secret Service once the server took it.

#include <QObject>
#include <QString>
#include <optional>
#include <string>

#include "mappingstore/webdav/SyncSetup.h"

class QCheckBox;
class QWidget;

namespace pelkora {
class ImportSession;
}

namespace pelkora::gui {

// The alert when sharing could not be switched on, in the desktop's words.
struct SharingProblem {
    QString heading;
    QString text;
};

class MappingSharing final : public QObject {
    Q_OBJECT

  public:
    // How long the checkbox shows its waiting title before the switch.
    static constexpr int kSwitchDelayMilliseconds = 1500;

    explicit MappingSharing(ImportSession& session, QObject* parent = nullptr);

    // Whether sharing is on now: the setting, with a store that works with the place.
    bool isSharing() const;
    // The place the settings name, if any.
    SyncConfiguration place() const;

    // Switches as the box asks; the box shows the waiting title meanwhile and gets its own
    // title back, checked as the outcome is. A password given is used for a WebDAV place
    // instead of the Secret Service's.
    void switchSharing(QCheckBox& box, bool on, const SyncConfiguration& place,
                       std::optional<std::string> password = std::nullopt);
    bool isSwitching() const { return switching_; }

  signals:
    void switchingStarted();
    // Sharing is on or off now; problem is set when switching on failed.
    void switchingFinished(bool on, std::optional<pelkora::gui::SharingProblem> problem);

  private:
    ImportSession& session_;
    bool switching_ = false;
};

// "Share mappings between your computers": the title of the sharing checkboxes.
QString sharingBoxTitle();
// The status line: the place, whether it is used, how many mappings, the last refresh.
QString sharingStatusText(ImportSession& session);

}  // namespace pelkora::gui
