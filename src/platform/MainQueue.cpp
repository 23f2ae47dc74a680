#include "platform/MainQueue.h"

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace pelkora {

namespace {

// How long runUntil sleeps at most before asking done() again. Completion is normally
// announced by a posted task, which wakes the loop at once; the slice only matters when
// another thread flips the condition directly without posting anything.
constexpr std::chrono::milliseconds kDoneRecheckInterval{20};

}  // namespace

struct MainQueue::State {
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
    std::mutex mutex;
    std::condition_variable taskPosted;
    std::deque<Task> tasks;  // guarded by mutex
    Dispatcher dispatcher;   // guarded by mutex

    // Removes the oldest task; empty when there is none.
    std::optional<Task> takeNext() {
        std::lock_guard lock(mutex);
        if (tasks.empty()) return std::nullopt;
        Task task = std::move(tasks.front());
        tasks.pop_front();
        return task;
    }

    // Runs the oldest task, if any. Dispatched closures call this instead of carrying
    // the task itself, so the order of the deque stays the order of execution even
    // when two threads reach the dispatcher in the opposite order they queued in.
    void runNext() {
        if (auto task = takeNext()) (*task)();
    }
};

MainQueue::MainQueue() : state_(new State) {}

MainQueue& MainQueue::shared() {
    // The queue holds only a pointer, so it has no destructor to run at exit; the state
    // it points to is never freed. Worker threads that outlive main() may still post.
    static MainQueue queue;
    return queue;
}

void MainQueue::adoptCurrentThreadAsMain() {
    state_->mainThread = std::this_thread::get_id();
}

bool MainQueue::isMainThread() const {
    return state_->mainThread == std::this_thread::get_id();
}

void MainQueue::post(Task task) {
    Dispatcher dispatcher;
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
        dispatcher = state_->dispatcher;
    }
    if (dispatcher) {
        // Called outside the lock: a dispatcher that runs the closure inline may post again.
        State* state = state_;
        dispatcher([state] { state->runNext(); });
    } else {
        state_->taskPosted.notify_one();
    }
}

void MainQueue::runSynchronously(const Task& task) {
    if (isMainThread()) {
        task();
        return;
    }
    // The promise is shared because the posted closure must be copyable; it carries an
    // exception thrown by the task back to the waiting thread.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    post([&task, done] {
        try {
            task();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    finished.get();
}

std::size_t MainQueue::drain() {
    assert(isMainThread());
    std::size_t count = 0;
    while (auto task = state_->takeNext()) {
        (*task)();
        ++count;
    }
    return count;
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    assert(isMainThread());
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::optional<Task> task;
        {
            std::unique_lock lock(state_->mutex);
            const auto wakeAt =
                std::min(deadline, std::chrono::steady_clock::now() + kDoneRecheckInterval);
            state_->taskPosted.wait_until(lock, wakeAt, [this] { return !state_->tasks.empty(); });
            if (!state_->tasks.empty()) {
                task = std::move(state_->tasks.front());
                state_->tasks.pop_front();
            }
        }
        if (task) {
            (*task)();
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
    }
    return true;
}

void MainQueue::setDispatcher(Dispatcher dispatcher) {
    std::size_t waiting = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->dispatcher = dispatcher;
        waiting = state_->tasks.size();
    }
    if (!dispatcher) {
        state_->taskPosted.notify_one();
        return;
    }
    // Tasks posted before the hand-over would otherwise wait for a drain that never comes.
    State* state = state_;
    for (std::size_t i = 0; i < waiting; ++i) dispatcher([state] { state->runNext(); });
}

}  // namespace pelkora
