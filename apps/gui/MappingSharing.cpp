#include "MappingSharing.h"

#include <QCheckBox>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>

#include "Translations.h"
#include "Utf8Text.h"
#include "mappingstore/webdav/SecretStore.h"
#include "session/ImportSession.h"
#include "support/Logger.h"

namespace pelkora::gui {
namespace {

// The WebDAV password: the one typed, else the Secret Service's.
PasswordSource passwordSource(std::optional<std::string> typed) {
    return [typed](const SyncConfiguration& place) -> Expected<std::string, std::string> {
        if (typed) return *typed;
        auto stored = lookupWebDavPassword(place.url, place.user);
        if (stored && *stored) return **stored;
        return Unexpected(stored ? std::string("the password is not in the Secret Service")
                                 : stored.error());
    };
}

}  // namespace

QString sharingBoxTitle() {
    return MappingSharing::tr("Share mappings between your computers");
}

QString sharingStatusText(ImportSession& session) {
    SettingsStore& settings = session.settings();
    const SyncConfiguration place = readSyncConfiguration(settings);
    if (place.kind == SyncConfiguration::Kind::none)
        return MappingSharing::tr("No sync folder or WebDAV server is set up.");
    const MappingStore& store = session.mappingStore();
    const QString where = fromUtf8(describe(place));
    if (!settings.boolForKey("ShareMappings"))
        return MappingSharing::tr("Not sharing; the place set up is the %1.").arg(where);
    if (!store.isSharedMode())
        return MappingSharing::tr(
                   "Sharing is on, but the %1 cannot be used now (%2); the "
                   "mappings on this computer are used meanwhile.")
            .arg(where, fromUtf8(accountStatusName(store.accountStatus())));
    const QString refreshed = settings.stringForKey("MappingSyncLastRefresh")
                                  ? fromUtf8(*settings.stringForKey("MappingSyncLastRefresh"))
                                  : MappingSharing::tr("never");
    const auto count = static_cast<qulonglong>(store.mappings().size());
    return trn("Sharing %1 mapping through the %2; last read %3.",
               "Sharing %1 mappings through the %2; last read %3.", count)
        .arg(QString::number(count), where, refreshed);
}

MappingSharing::MappingSharing(ImportSession& session, QObject* parent)
    : QObject(parent), session_(session) {}

bool MappingSharing::isSharing() const {
    return session_.settings().boolForKey("ShareMappings") &&
           session_.mappingStore().isSharedMode();
}

SyncConfiguration MappingSharing::place() const {
    return readSyncConfiguration(session_.settings());
}

void MappingSharing::switchSharing(QCheckBox& box, bool on, const SyncConfiguration& place,
                                   std::optional<std::string> password) {
    if (switching_) return;
    switching_ = true;
    writeLog(LogType::info, "%{public}@ invoked", "switchSharing");
    const QString title = box.text();
    box.setEnabled(false);
    box.setText(on ? tr("Enabling sharing…") : tr("Disabling sharing…"));
    emit switchingStarted();
    QTimer::singleShot(
        kSwitchDelayMilliseconds, this,
        [this, on, place, password, title, checkBox = QPointer<QCheckBox>(&box)] {
            std::optional<SharingProblem> problem;
            MappingStore& store = session_.mappingStore();
            SettingsStore& settings = session_.settings();
            if (on) {
                OpenOptions options;
                options.password = passwordSource(password);
                auto shared = enableSharing(store, settings, place, options);
                if (shared) {
                    writeLog(LogType::info, "Sharing enabled: Merge mappings...");
                    // Kept only once the server took it; without a Secret Service it is asked
                    // again.
                    if (password && place.kind == SyncConfiguration::Kind::webdav) {
                        if (auto kept = storeWebDavPassword(place.url, place.user, *password);
                            !kept)
                            writeLog(LogType::error,
                                     "The WebDAV password was not stored: %{public}@",
                                     kept.error());
                    }
                } else if (shared.error().alert) {
                    problem = SharingProblem{fromUtf8(shared.error().alert->heading),
                                             fromUtf8(shared.error().alert->text)};
                } else {
                    problem = SharingProblem{tr("Sharing could not be enabled"),
                                             fromUtf8(shared.error().error)};
                }
            } else if (auto kept = disableSharing(store, settings); kept) {
                writeLog(LogType::info, "Sharing disabled: Store mappings locally...");
            } else {
                problem = SharingProblem{tr("Sharing could not be disabled"),
                                         fromUtf8(kept.error().message())};
            }
            if (auto written = settings.synchronize(); !written)
                writeLog(LogType::error, "%{public}@", written.error().message);
            const bool sharing = isSharing();
            if (checkBox) {
                const QSignalBlocker quiet(checkBox.data());
                checkBox->setText(title);
                checkBox->setChecked(sharing);
                checkBox->setEnabled(true);
            }
            switching_ = false;
            emit switchingFinished(sharing, problem);
        });
}

}  // namespace pelkora::gui
