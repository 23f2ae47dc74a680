// Two programs on one private session bus (a dbus-daemon of this run), each on its own
// connection: the first claims the name, the second hands its files over and is told to exit.
// The second one's blocking call runs on a thread of its own, so that the first can answer
// it from this thread's event loop, as two processes would.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <atomic>
#include <optional>
#include <thread>

#include "SingleInstance.h"
#include "support/Logger.h"

using namespace pelkora::gui;
using Role = SingleInstance::Role;

namespace {

QString gBusAddress;  // the private bus main() starts

QDBusConnection privateBus(const QString& name) {
    return QDBusConnection::connectToBus(gBusAddress, name);
}

// Runs `work` on another thread while this one's event loop runs, and returns its result.
template <typename Work>
auto onOtherThread(Work work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    std::atomic<bool> done = false;
    std::thread thread([&] {
        result = work();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done.load(); }, 15000))
        qWarning("the other thread is still waiting after 15 s");
    thread.join();
    return *result;
}

// A second program on its own connection: what start() made of it.
Role secondLaunch(const QStringList& files) {
    return onOtherThread([&files] {
        SingleInstance second(privateBus(QStringLiteral("second")));
        return second.start(files, 5000);
    });
}

// What reached the first program's window.
struct Requests {
    int activations = 0;
    QList<QStringList> opened;
    SingleInstance::Receiver receiver() {
        return {.activate = [this] { ++activations; },
                .open = [this](const QStringList& paths) { opened.push_back(paths); }};
    }
};

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        QDBusConnection::disconnectFromBus(QStringLiteral("first"));
        QDBusConnection::disconnectFromBus(QStringLiteral("second"));
    }

    void secondLaunchHandsItsFilesToTheFirst_data() {
        QTest::addColumn<QStringList>("files");
        QTest::newRow("one file") << QStringList{QStringLiteral("/home/anna/contacts.csv")};
        QTest::newRow("spaces, umlauts, URI characters")
            << QStringList{QStringLiteral("/home/anna/Adressen Ä/Björn #1 %20.vcf"),
                           QStringLiteral("/tmp/a?b;c.vcf")};
        QTest::newRow("none: to the front") << QStringList{};
    }
    void secondLaunchHandsItsFilesToTheFirst() {
        QFETCH(QStringList, files);
        SingleInstance first(privateBus(QStringLiteral("first")));
        QCOMPARE(first.start({}), Role::primary);
        Requests requests;
        first.setReceiver(requests.receiver());

        QCOMPARE(secondLaunch(files), Role::handedOver);
        if (files.isEmpty()) {
            QTRY_COMPARE(requests.activations, 1);
            QVERIFY(requests.opened.isEmpty());
        } else {
            QTRY_COMPARE(requests.opened.size(), 1);
            QCOMPARE(requests.opened.front(), files);
            QCOMPARE(requests.activations, 0);
        }
    }

    void requestsBeforeTheWindowWaitForIt() {
        SingleInstance first(privateBus(QStringLiteral("first")));
        QCOMPARE(first.start({}), Role::primary);
        const QStringList files{QStringLiteral("/srv/a.csv")};
        QCOMPARE(secondLaunch(files), Role::handedOver);
        Requests requests;
        first.setReceiver(requests.receiver());
        QCOMPARE(requests.opened, QList<QStringList>{files});
    }

    void theNameIsFreeOnceTheFirstIsGone() {
        {
            SingleInstance first(privateBus(QStringLiteral("first")));
            QCOMPARE(first.start({}), Role::primary);
        }
        SingleInstance next(privateBus(QStringLiteral("first")));
        QCOMPARE(next.start({}), Role::primary);
    }

    void anOwnerThatDoesNotAnswerLeavesTheSecondAlone() {
        // Something holds the name but serves no application object.
        QDBusConnection squatter = privateBus(QStringLiteral("first"));
        QCOMPARE(squatter.interface()
                     ->registerService(SingleInstance::serviceName(),
                                       QDBusConnectionInterface::DontQueueService)
                     .value(),
                 QDBusConnectionInterface::ServiceRegistered);
        QCOMPARE(secondLaunch({QStringLiteral("/srv/a.csv")}), Role::alone);
    }

    void withoutABusTheProgramRunsAloneAndSaysSo() {
        const auto log = pelkora::Logger::shared().fileLogURL();
        QVERIFY(log);
        SingleInstance instance(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nobus")));
        QCOMPARE(instance.start({QStringLiteral("/srv/a.csv")}), Role::alone);
        QFile file(QString::fromStdString(log->string()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("No session bus"));
    }

    void otherClientsOfTheApplicationInterface() {
        SingleInstance first(privateBus(QStringLiteral("first")));
        QCOMPARE(first.start({}), Role::primary);
        Requests requests;
        first.setReceiver(requests.receiver());
        auto call = [](const QString& method, const QVariantList& arguments) {
            return onOtherThread([&] {
                QDBusMessage message = QDBusMessage::createMethodCall(
                    SingleInstance::serviceName(), SingleInstance::objectPath(),
                    QStringLiteral("org.freedesktop.Application"), method);
                message.setArguments(arguments);
                return privateBus(QStringLiteral("second")).call(message, QDBus::Block, 5000);
            });
        };
        // A file manager names files by URI; other schemes cannot be opened, only shown.
        QCOMPARE(
            call(QStringLiteral("Open"),
                 {QStringList{QStringLiteral("file:///home/anna/K%C3%B6ln.csv")}, QVariantMap{}})
                .type(),
            QDBusMessage::ReplyMessage);
        QCOMPARE(call(QStringLiteral("Open"),
                      {QStringList{QStringLiteral("https://example.org/a.vcf")}, QVariantMap{}})
                     .type(),
                 QDBusMessage::ReplyMessage);
        QTRY_COMPARE(requests.activations, 1);
        QCOMPARE(requests.opened, QList<QStringList>{{QStringLiteral("/home/anna/Köln.csv")}});
        const QDBusMessage action =
            call(QStringLiteral("ActivateAction"),
                 {QStringLiteral("new-window"), QVariantList{}, QVariantMap{}});
        QCOMPARE(action.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(action.errorName(), QStringLiteral("org.freedesktop.DBus.Error.NotSupported"));
    }

    void relativeFilesAreTakenFromTheCallersFolder_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain name") << "contacts.csv"
                                    << "/home/anna/Downloads/contacts.csv";
        QTest::newRow("up and dot") << "../old/./a.vcf"
                                    << "/home/anna/old/a.vcf";
        QTest::newRow("absolute") << "/tmp//b.csv"
                                  << "/tmp/b.csv";
        QTest::newRow("non-ASCII") << "Ä Ö/ü.csv"
                                   << "/home/anna/Downloads/Ä Ö/ü.csv";
    }
    void relativeFilesAreTakenFromTheCallersFolder() {
        QFETCH(QString, argument);
        QFETCH(QString, path);
        QCOMPARE(absoluteFilePaths({argument}, QStringLiteral("/home/anna/Downloads")),
                 QStringList{path});
    }
};

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    for (const char* variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"})
        qputenv(variable, QFile::encodeName(home.path()));
    QCoreApplication application(argc, argv);
    // A bus of this run only, so the desktop's own bus and its programs are left alone.
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!bus.waitForStarted() || !bus.waitForReadyRead(10000)) {
        qWarning("dbus-daemon did not start: %s", qPrintable(bus.errorString()));
        return 1;
    }
    gBusAddress = QString::fromUtf8(bus.readLine()).trimmed();
    SingleInstanceTest test;
    const int status = QTest::qExec(&test, argc, argv);
    bus.terminate();
    bus.waitForFinished();
    return status;
}

#include "SingleInstanceTest.moc"
