#include "QtMainQueue.h"

#include <QMetaObject>
#include <QObject>

#include "platform/MainQueue.h"

namespace pelkora::gui {

void installQtMainQueueDispatcher(QObject* context) {
    auto& queue = MainQueue::shared();
    queue.adoptCurrentThreadAsMain();
    // A queued call is an event posted to the context's thread: safe from any thread, run by
    // the event loop in posting order.
    queue.setDispatcher([context](MainQueue::Task task) {
        QMetaObject::invokeMethod(
            context, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
    });
}

void removeQtMainQueueDispatcher() {
    MainQueue::shared().setDispatcher({});
}

}  // namespace pelkora::gui
