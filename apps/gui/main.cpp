// pelkora-gui: the desktop window over the import session. Files named on the command line
// are opened once the window is up, as the desktop's "Open With" does; when a pelkora-gui
// already runs in this desktop session, it gets the files instead and this one exits.

#include <QApplication>
#include <QDir>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <vector>

#include "ApplicationIdentity.h"
#include "ConfiguredStores.h"
#include "MainWindow.h"
#include "QtMainQueue.h"
#include "SingleInstance.h"
#include "Translations.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "import/ImportJournal.h"
#include "mappingstore/webdav/SecretStore.h"
#include "mappingstore/webdav/SyncSetup.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"
#include "session/SettingsKeys.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace {

std::vector<std::filesystem::path> filePaths(const QStringList& paths) {
    std::vector<std::filesystem::path> files;
    for (const QString& path : paths) files.emplace_back(path.toStdString());
    return files;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    pelkora::gui::setUpApplicationIdentity();
    pelkora::gui::installTranslations(application);

    using pelkora::gui::SingleInstance;
    const QStringList files =
        pelkora::gui::absoluteFilePaths(QApplication::arguments().mid(1), QDir::currentPath());
    SingleInstance instance(QDBusConnection::sessionBus());
    if (instance.start(files) == SingleInstance::Role::handedOver) return 0;

    pelkora::gui::installQtMainQueueDispatcher(&application);
    auto& settings = pelkora::SettingsStore::standard();
    pelkora::applyLogLevel(settings);
    pelkora::ImportSession session(settings, std::make_shared<pelkora::AlwaysAuthorizedProvider>());
    // The address book the "ContactStore" setting names ("pelkora stores default"), else the
    // user's local book; the session reaches it only as a ContactStore. A book that cannot be
    // opened is said at once: records can still be saved as vCard files.
    std::string location = pelkora::contacts::SqliteContactStore::defaultLocation().string();
    std::string storeProblem;
    if (auto chosen = pelkora::resolveStore(std::nullopt); !chosen) {
        storeProblem = chosen.error();
    } else {
        if (chosen->kind != pelkora::StoreLocation::Kind::sqlite)
            location = chosen->uri();
        else
            location = chosen->path.string();
        if (auto store = pelkora::openStore(*chosen, true)) {
            session.setContactStore(
                std::shared_ptr<pelkora::contacts::ContactStore>(std::move(*store)));
            session.setImportJournal(
                std::make_shared<pelkora::ImportJournal>(pelkora::ImportJournal::defaultFolder()));
        } else {
            storeProblem = store.error().message;
        }
    }
    // The import page offers every book the user has, and switches to the one chosen.
    session.setStoreDirectory(std::make_shared<pelkora::gui::ConfiguredStores>(
        session.contactStoreKey(), session.contactStore()));

    // Shared saved mappings, when the user set sharing up ("pelkora mappings sync enable"):
    // the password comes from the Secret Service only; a place that cannot be reached leaves
    // the local mappings in use, as the log says.
    pelkora::OpenOptions sharing;
    sharing.password =
        [](const pelkora::SyncConfiguration& place) -> pelkora::Expected<std::string, std::string> {
        auto stored = pelkora::lookupWebDavPassword(place.url, place.user);
        if (stored && *stored) return **stored;
        return pelkora::Unexpected(stored ? std::string("the password is not in the Secret Service")
                                          : stored.error());
    };
    if (auto local = pelkora::setUpSharing(session.mappingStore(), settings, sharing)) {
        pelkora::writeLog(pelkora::LogType::error, "The shared mappings cannot be used: %{public}@",
                          *local);
    }

    int status = 0;
    {
        pelkora::gui::MainWindow window(session);
        window.show();
        session.applicationDidFinishLaunching();
        if (!storeProblem.empty())
            pelkora::MainQueue::shared().post([&session, &location, &storeProblem] {
                session.showAlert(pelkora::Alert{
                    .heading = pelkora::localizedString("The address book could not be opened."),
                    .text = pelkora::formatMessage(
                        pelkora::localizedString("Pelkora cannot import into “%@” now. Records can "
                                                 "still be saved as vCard files."),
                        location),
                    .detail = storeProblem,
                    .buttons = {pelkora::localizedString("OK")},
                    .completion = {}});
            });
        // Posted behind the launch's first page, so the files' pages come after it.
        if (!files.isEmpty())
            pelkora::MainQueue::shared().post(
                [&session, paths = filePaths(files)] { (void)session.openFiles(paths); });
        // Files from later launches are opened the same way, in front of whatever is up.
        instance.setReceiver({
            .activate = [&window] { window.bringToFront(); },
            .open =
                [&window, &session](const QStringList& paths) {
                    window.bringToFront();
                    (void)session.openFiles(filePaths(paths));
                },
        });
        status = QApplication::exec();
        instance.setReceiver({});
        session.applicationWillTerminate();
    }
    pelkora::gui::removeQtMainQueueDispatcher();
    return status;
}
