#pragma once

// Background work queues. An operation is one unit of work (an examination, a parse, an
// import); a queue runs its operations on worker threads of its own, in the order they
// were added, at most maxConcurrentOperationCount at a time.
//
// Cancellation is cooperative: cancel() only sets a flag, and the body checks
// isCancelled() between rows and before each save. Results go back to the main thread
// with MainQueue::post, never by touching session state from the worker.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelkora {

class OperationQueue;

// One unit of work. Shared between the queue that runs it and whoever added it, so
// that either can cancel it or wait for it.
class Operation {
  public:
    using Body = std::function<void(Operation&)>;

    // Makes an operation that runs body with itself as argument once a queue starts it.
    explicit Operation(Body body);
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Asks the operation to stop; one that has not started yet finishes without running.
    void cancel();
    bool isCancelled() const;
    // True once the body has returned or thrown, or was skipped after cancellation.
    bool isFinished() const;
    // Blocks until isFinished(); never returns for an operation added to no queue.
    void waitUntilFinished();

  private:
    friend class OperationQueue;

    // Runs the body unless cancelled; answers the message of an exception it threw.
    std::optional<std::string> run();
    void markFinished();

    Body body_;  // touched only by the adding thread, then by the one worker that runs it
    std::atomic<bool> enqueued_{false};   // set once, by whichever queue adds it first
    std::atomic<bool> cancelled_{false};  // read by the body in its loops, so no lock
    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;  // guarded by mutex_
};

// Runs operations on lazily created worker threads, in FIFO order. With a
// maxConcurrentOperationCount of 1 the queue is serial.
//
// waitUntilAllOperationsAreFinished may be called on the main thread while operations post
// to MainQueue (posting does not wait), but an operation must not call
// MainQueue::runSynchronously while the main thread is waiting for its queue: each would
// wait for the other forever.
class OperationQueue {
  public:
    using UncaughtExceptionHandler = std::function<void(const std::string& what)>;

    // A count below 1 means one worker per hardware thread.
    explicit OperationQueue(std::string name, int maxConcurrentOperationCount = 1);
    // Cancels every operation, waits for the running ones and joins the workers. Must not
    // run on one of this queue's own workers.
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Queues a body that receives its operation (to check isCancelled()); returns the
    // operation.
    std::shared_ptr<Operation> addOperation(std::function<void(Operation&)> body);
    // Queues a body that does not look at its operation; returns the operation.
    std::shared_ptr<Operation> addOperation(std::function<void()> body);
    // Queues an operation made by the caller; an operation can be added only once.
    void addOperation(const std::shared_ptr<Operation>& operation);

    // Cancels the running operations and finishes the waiting ones without running them.
    void cancelAllOperations();
    // Blocks until no operation waits or runs, including operations added meanwhile.
    // Throws std::logic_error when called from one of this queue's own operations.
    void waitUntilAllOperationsAreFinished();
    // The operations that wait or run.
    std::size_t operationCount() const;

    const std::string& name() const { return name_; }
    int maxConcurrentOperationCount() const { return maxConcurrentOperationCount_; }

    // Receives the message of an exception that escaped an operation's body, on the
    // worker thread. Without a handler the message goes to standard error.
    void setUncaughtExceptionHandler(UncaughtExceptionHandler handler);

    // The queue whose operation runs on the calling thread, or null.
    static OperationQueue* current();

  private:
    void workerLoop();
    void reportUncaughtException(const std::string& what);
    // Takes the waiting operations out of the queue and finishes them without running
    // them; the caller holds mutex_ and releases their bodies after unlocking.
    std::deque<std::shared_ptr<Operation>> finishPendingLocked();
    static void releaseBodies(const std::deque<std::shared_ptr<Operation>>& operations);

    const std::string name_;
    const int maxConcurrentOperationCount_;

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable becameIdle_;
    std::deque<std::shared_ptr<Operation>> pending_;
    std::vector<std::shared_ptr<Operation>> executing_;
    std::vector<std::thread> workers_;
    std::size_t idleWorkers_ = 0;
    bool stopping_ = false;
    UncaughtExceptionHandler uncaughtExceptionHandler_;
};

}  // namespace pelkora
