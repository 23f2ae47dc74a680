// pelkora-gui: the desktop window over the import session. Files named on the command line
// are opened once the window is up, as the desktop's "Open With" does.

#include <QApplication>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <vector>

#include "ApplicationIdentity.h"
#include "MainWindow.h"
#include "QtMainQueue.h"
#include "addressbook/ContactAuthorization.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportJournal.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    pelkora::gui::setUpApplicationIdentity();
    pelkora::gui::installQtMainQueueDispatcher(&application);

    auto& settings = pelkora::SettingsStore::standard();
    pelkora::ImportSession session(settings, std::make_shared<pelkora::AlwaysAuthorizedProvider>());
    // The user's local address book; the session reaches it only as a ContactStore.
    if (auto store = pelkora::contacts::SqliteContactStore::open(
            pelkora::contacts::SqliteContactStore::defaultLocation())) {
        session.setContactStore(
            std::shared_ptr<pelkora::contacts::ContactStore>(std::move(*store)));
        session.setImportJournal(
            std::make_shared<pelkora::ImportJournal>(pelkora::ImportJournal::defaultFolder()));
    }

    std::vector<std::filesystem::path> files;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype index = 1; index < arguments.size(); ++index)
        files.emplace_back(arguments[index].toStdString());

    int status = 0;
    {
        pelkora::gui::MainWindow window(session);
        window.show();
        session.applicationDidFinishLaunching();
        // Posted behind the launch's first page, so the files' pages come after it.
        if (!files.empty())
            pelkora::MainQueue::shared().post(
                [&session, files] { (void)session.openFiles(files); });
        status = QApplication::exec();
        session.applicationWillTerminate();
    }
    pelkora::gui::removeQtMainQueueDispatcher();
    return status;
}
