#pragma once

// The main queue: the one place where session state changes, page changes and
// front-end updates happen. Background work posts closures here and never touches
// a view or the session directly.
//
// The command-line tool drains the queue with its own run loop (runUntil). A GUI
// installs a dispatcher that hands every posted closure to its event loop instead.

#include <chrono>
#include <functional>

namespace pelkora {

class MainQueue {
  public:
    using Task = std::function<void()>;
    using Dispatcher = std::function<void(Task)>;

    // The process-wide main queue. The thread that first calls shared() is the main
    // thread unless adoptCurrentThreadAsMain() says otherwise.
    static MainQueue& shared();

    // Makes the calling thread the main thread (tests and front ends call this once).
    void adoptCurrentThreadAsMain();
    bool isMainThread() const;

    // Queues a task to run on the main thread, in posting order. Safe from any thread.
    void post(Task task);

    // Runs the task now when called on the main thread, else posts it and waits until
    // it has run; an exception thrown by the task is rethrown here. Deadlocks when the
    // main thread is itself blocked waiting for the calling thread.
    void runSynchronously(const Task& task);

    // Runs queued tasks (and tasks they post) until the queue is empty; returns how many
    // ran. Main thread only.
    std::size_t drain();

    // Runs tasks as they arrive until done() answers true or the timeout passes; returns
    // done()'s last answer. Main thread only.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::hours(24));

    // Hands every later post to the given dispatcher (a GUI event loop); an empty
    // dispatcher returns to the built-in run loop. Tasks already queued are handed over
    // too. Each closure the dispatcher receives runs the oldest queued task, so tasks
    // keep their posting order whatever order the dispatcher is called in.
    void setDispatcher(Dispatcher dispatcher);

  private:
    MainQueue();
    struct State;
    State* state_;  // lives as long as the process: tasks may be posted during exit
};

}  // namespace pelkora
