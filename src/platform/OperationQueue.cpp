#include "platform/OperationQueue.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace pelkora {

namespace {

// Set for the whole life of a worker thread, which only ever runs its own queue's work.
thread_local OperationQueue* currentQueue = nullptr;

int effectiveConcurrency(int requested) {
    if (requested >= 1) return requested;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

Operation::Operation(Body body) : body_(std::move(body)) {}

void Operation::cancel() {
    cancelled_ = true;
}

bool Operation::isCancelled() const {
    return cancelled_;
}

bool Operation::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait(lock, [this] { return finished_; });
}

std::optional<std::string> Operation::run() {
    std::optional<std::string> failure;
    if (!isCancelled() && body_) {
        try {
            body_(*this);
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (...) {
            failure = "unknown exception";
        }
    }
    // Whatever the body captured (readers, sessions, files) is released here on the
    // worker rather than whenever the last owner of the operation lets go of it.
    body_ = nullptr;
    return failure;
}

void Operation::markFinished() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    finishedChanged_.notify_all();
}

OperationQueue::OperationQueue(std::string name, int maxConcurrentOperationCount)
    : name_(std::move(name)),
      maxConcurrentOperationCount_(effectiveConcurrency(maxConcurrentOperationCount)) {}

OperationQueue::~OperationQueue() {
    std::deque<std::shared_ptr<Operation>> skipped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        skipped = finishPendingLocked();
        for (const auto& operation : executing_) operation->cancel();
    }
    workAvailable_.notify_all();
    becameIdle_.notify_all();
    releaseBodies(skipped);
    for (auto& worker : workers_) worker.join();
}

std::shared_ptr<Operation> OperationQueue::addOperation(std::function<void(Operation&)> body) {
    auto operation = std::make_shared<Operation>(std::move(body));
    addOperation(operation);
    return operation;
}

std::shared_ptr<Operation> OperationQueue::addOperation(std::function<void()> body) {
    return addOperation(
        std::function<void(Operation&)>([body = std::move(body)](Operation&) { body(); }));
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    if (operation->enqueued_.exchange(true)) {
        throw std::logic_error("operation added to queue '" + name_ + "' was already added");
    }
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            // Only an operation of this queue can add while the destructor waits for it.
            operation->cancel();
            operation->markFinished();
            return;
        }
        pending_.push_back(operation);
        // Workers are started on demand and kept until the queue goes away; a new one
        // is needed only when every existing worker already has something to take.
        if (pending_.size() > idleWorkers_ &&
            workers_.size() < static_cast<std::size_t>(maxConcurrentOperationCount_)) {
            workers_.emplace_back([this] { workerLoop(); });
        }
    }
    workAvailable_.notify_one();
}

void OperationQueue::cancelAllOperations() {
    std::deque<std::shared_ptr<Operation>> skipped;
    {
        std::lock_guard lock(mutex_);
        skipped = finishPendingLocked();
        for (const auto& operation : executing_) operation->cancel();
    }
    becameIdle_.notify_all();
    releaseBodies(skipped);
}

std::deque<std::shared_ptr<Operation>> OperationQueue::finishPendingLocked() {
    // Finished under the queue lock so that a waiter that sees the queue empty also sees
    // these operations finished.
    for (const auto& operation : pending_) {
        operation->cancel();
        operation->markFinished();
    }
    return std::exchange(pending_, {});
}

void OperationQueue::releaseBodies(const std::deque<std::shared_ptr<Operation>>& operations) {
    // Out of the queue, no worker can reach these bodies any more. Their captured state is
    // destroyed here, outside the queue lock, because its destructors may take locks or
    // even add work to this queue.
    for (const auto& operation : operations) operation->body_ = nullptr;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (current() == this) {
        throw std::logic_error("an operation of queue '" + name_ +
                               "' cannot wait for its own queue");
    }
    std::unique_lock lock(mutex_);
    becameIdle_.wait(lock, [this] { return pending_.empty() && executing_.empty(); });
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size() + executing_.size();
}

void OperationQueue::setUncaughtExceptionHandler(UncaughtExceptionHandler handler) {
    std::lock_guard lock(mutex_);
    uncaughtExceptionHandler_ = std::move(handler);
}

OperationQueue* OperationQueue::current() {
    return currentQueue;
}

void OperationQueue::reportUncaughtException(const std::string& what) {
    UncaughtExceptionHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = uncaughtExceptionHandler_;
    }
    if (handler) {
        handler(what);
    } else {
        std::cerr << "Operation on queue '" << name_ << "' threw: " << what << '\n';
    }
}

void OperationQueue::workerLoop() {
    currentQueue = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        workAvailable_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        --idleWorkers_;
        if (pending_.empty()) return;  // stopping, and nothing left to run

        std::shared_ptr<Operation> operation = std::move(pending_.front());
        pending_.pop_front();
        executing_.push_back(operation);
        lock.unlock();

        if (auto failure = operation->run()) reportUncaughtException(*failure);

        lock.lock();
        // Marked finished before it leaves executing_, so waitUntilAllOperationsAreFinished
        // never returns while one of its operations still reads as unfinished.
        operation->markFinished();
        executing_.erase(std::find(executing_.begin(), executing_.end(), operation));
        if (pending_.empty() && executing_.empty()) becameIdle_.notify_all();
    }
}

}  // namespace pelkora
