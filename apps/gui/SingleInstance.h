#pragma once

// One window per desktop session. The first pelkora-gui to start owns the bus name
// org.pelkora.Pelkora on the session bus and answers the desktop's application interface
// (org.freedesktop.Application: Activate, Open, ActivateAction) at /org/pelkora/Pelkora; a
// later pelkora-gui hands its files to that owner and exits without a window. Without a
// session bus each program runs as a window of its own.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace pelkora::gui {

class ApplicationInterface;

// The command line's file arguments as absolute, cleaned paths, relative ones taken against
// `workingDirectory` (the caller's, since the owner of the window may run elsewhere).
QStringList absoluteFilePaths(const QStringList& arguments, const QString& workingDirectory);

class SingleInstance final : public QObject {
    Q_OBJECT

  public:
    // The bus name and object path, after the application id.
    static const QString& serviceName();
    static const QString& objectPath();

    // What start() made of this program.
    enum class Role {
        primary,     // owns the bus name: requests from later programs arrive here
        handedOver,  // another program took the files: this one exits
        alone,       // no bus, or no answer from the owner: a window of its own
    };

    // What a request from another program asks the window to do, in the GUI thread.
    struct Receiver {
        std::function<void()> activate;                // bring the window to the front
        std::function<void(const QStringList&)> open;  // absolute paths, at least one
    };

    // Uses `bus` (the session bus in the program; a private bus in tests).
    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the bus name; when another program owns it, asks that one to open `files`
    // (absolute paths) or, with none, to come to the front, waiting at most `timeoutMs` for
    // its answer. Each outcome but `primary` over a working bus is written to the runtime log.
    Role start(const QStringList& files, int timeoutMs = 10000);

    // Where requests go from now on; requests that came before wait here until then (they
    // arrive through the event loop, so none comes before it runs).
    void setReceiver(Receiver receiver);

  private:
    friend class ApplicationInterface;
    void activateRequested();
    void openRequested(const QStringList& paths);

    QDBusConnection bus_;
    std::unique_ptr<ApplicationInterface> interface_;
    bool exported_ = false;
    bool ownsName_ = false;
    Receiver receiver_;
    bool pendingActivation_ = false;
    QStringList pendingFiles_;
};

}  // namespace pelkora::gui
