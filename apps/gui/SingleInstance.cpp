#include "SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include "ApplicationIdentity.h"
#include "support/Logger.h"

namespace pelkora::gui {

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");

std::string utf8(const QString& text) {
    return text.toStdString();
}

}  // namespace

// The object other programs call: org.freedesktop.Application, every slot exported with
// its D-Bus signature (QVariantMap is a{sv}, QVariantList av). Its work is done by the
// SingleInstance that owns it.
class ApplicationInterface final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

  public:
    explicit ApplicationInterface(SingleInstance& owner) : owner_(owner) {}

  public slots:
    void Activate(const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        owner_.activateRequested();
    }

    // The files come as URIs; only local files can be opened, others are logged and left.
    void Open(const QStringList& uris, const QVariantMap& platformData) {
        Q_UNUSED(platformData);
        QStringList paths;
        for (const QString& uri : uris) {
            const QUrl url(uri);
            if (url.isLocalFile())
                paths.push_back(QDir::cleanPath(url.toLocalFile()));
            else
                writeLog(LogType::error,
                         "Cannot open %{public}@ handed over on the bus: not a file", utf8(uri));
        }
        if (paths.isEmpty())
            owner_.activateRequested();
        else
            owner_.openRequested(paths);
    }

    // The desktop file declares no actions, so every name is unknown.
    void ActivateAction(const QString& actionName, const QVariantList& parameter,
                        const QVariantMap& platformData) {
        Q_UNUSED(parameter);
        Q_UNUSED(platformData);
        sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("%1 has no action \"%2\"")
                           .arg(QString::fromLatin1(kApplicationDisplayName), actionName));
    }

  private:
    SingleInstance& owner_;
};

QStringList absoluteFilePaths(const QStringList& arguments, const QString& workingDirectory) {
    const QDir base(workingDirectory);
    QStringList paths;
    paths.reserve(arguments.size());
    for (const QString& argument : arguments)
        paths.push_back(QDir::cleanPath(base.absoluteFilePath(argument)));
    return paths;
}

const QString& SingleInstance::serviceName() {
    static const QString name = QString::fromLatin1(kApplicationId);
    return name;
}

const QString& SingleInstance::objectPath() {
    // "/org/pelkora/Pelkora": the id with its dots as slashes, as the desktop expects.
    static const QString path =
        QLatin1Char('/') + QString::fromLatin1(kApplicationId).replace(QLatin1Char('.'), '/');
    return path;
}

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), interface_(new ApplicationInterface(*this)) {}

SingleInstance::~SingleInstance() {
    if (ownsName_) bus_.unregisterService(serviceName());
    if (exported_) bus_.unregisterObject(objectPath());
}

SingleInstance::Role SingleInstance::start(const QStringList& files, int timeoutMs) {
    // 1. Without a bus there is nobody to share the window with.
    if (!bus_.isConnected()) {
        writeLog(LogType::info, "No session bus (%{public}@): running as a window of its own",
                 utf8(bus_.lastError().message()));
        return Role::alone;
    }
    // 2. The object goes up before the name, so that a request sent the moment the name is
    //    ours finds it.
    exported_ =
        bus_.registerObject(objectPath(), interface_.get(), QDBusConnection::ExportAllSlots);
    if (!exported_) {
        writeLog(LogType::error, "Cannot export %{public}@ on the session bus: %{public}@",
                 utf8(objectPath()), utf8(bus_.lastError().message()));
        return Role::alone;
    }
    // 3. Claim the name; the bus grants it to one program only.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        bus_.interface()->registerService(serviceName(), QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        writeLog(LogType::error, "Cannot claim %{public}@ on the session bus: %{public}@",
                 utf8(serviceName()), utf8(claimed.error().message()));
        return Role::alone;
    }
    if (claimed.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        return Role::primary;
    }
    // 4. Another program owns it: it takes the files, or comes to the front.
    QDBusMessage request = QDBusMessage::createMethodCall(
        serviceName(), objectPath(), kApplicationInterface,
        files.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    QStringList uris;
    for (const QString& file : files)
        uris.push_back(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
    if (!files.isEmpty()) request << uris;
    request << QVariantMap();
    const QDBusMessage reply = bus_.call(request, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        writeLog(LogType::info, "Handed %{public}d files to the running %{public}@", files.size(),
                 utf8(serviceName()));
        return Role::handedOver;
    }
    writeLog(LogType::error,
             "The running %{public}@ did not answer (%{public}@): running as a window of its own",
             utf8(serviceName()), utf8(reply.errorMessage()));
    return Role::alone;
}

void SingleInstance::setReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
    const QStringList files = std::exchange(pendingFiles_, {});
    const bool activation = std::exchange(pendingActivation_, false);
    if (!files.isEmpty())
        openRequested(files);
    else if (activation)
        activateRequested();
}

void SingleInstance::activateRequested() {
    if (!receiver_.activate) {
        pendingActivation_ = true;
        return;
    }
    receiver_.activate();
}

void SingleInstance::openRequested(const QStringList& paths) {
    if (!receiver_.open) {
        pendingFiles_ = paths;
        return;
    }
    writeLog(LogType::info, "Opening %{public}d file(s) handed over by another program",
             paths.size());
    receiver_.open(paths);
}

}  // namespace pelkora::gui

#include "SingleInstance.moc"
