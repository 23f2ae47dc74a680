#pragma once

// Runs the main queue inside Qt's event loop: every task posted to MainQueue becomes a
// queued call on an object of the GUI thread, so session work and widget updates share
// one thread and one loop, with no timer polling the queue.

class QObject;

namespace pelkora::gui {

// Makes the calling (GUI) thread the main queue's thread and hands every task posted from
// now on, and every task already waiting, to Qt's event loop through `context`, which must
// live on this thread and outlive the dispatcher (the application object does): a
// queued call whose context is gone would be dropped.
void installQtMainQueueDispatcher(QObject* context);
// Returns the main queue to its built-in run loop (before `context` goes away).
void removeQtMainQueueDispatcher();

}  // namespace pelkora::gui
