#include "platform/Progress.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

// Locking: each object guards its own fields with its own mutex. A thread may hold a
// parent's lock while it takes a child's (fractionCompleted, settling a finished child),
// never the other way round; changes travel upwards only after the child's lock is
// released. Observers and cancellation handlers run with no lock held.

namespace pelkora {

namespace {

struct CurrentEntry {
    std::shared_ptr<Progress> progress;  // kept alive while current on the thread
    std::int64_t pendingUnitCount;
    bool madeChild = false;
};

// Current progress objects of this thread, innermost last.
thread_local std::vector<CurrentEntry> currentStack;

}  // namespace

Progress::Progress(ConstructionKey, std::int64_t totalUnitCount)
    : totalUnitCount_(totalUnitCount) {}

std::shared_ptr<Progress> Progress::make(std::int64_t totalUnitCount,
                                         const std::shared_ptr<Progress>& parent,
                                         std::int64_t pendingUnitCountInParent) {
    auto progress = std::make_shared<Progress>(ConstructionKey{}, totalUnitCount);
    if (parent) {
        progress->attachTo(parent, pendingUnitCountInParent);
    } else if (!currentStack.empty() && !currentStack.back().madeChild) {
        CurrentEntry& current = currentStack.back();
        current.madeChild = true;
        progress->attachTo(current.progress, current.pendingUnitCount);
    }
    return progress;
}

std::int64_t Progress::totalUnitCount() const {
    std::lock_guard lock(mutex_);
    return totalUnitCount_;
}

void Progress::setTotalUnitCount(std::int64_t count) {
    {
        std::lock_guard lock(mutex_);
        if (totalUnitCount_ == count) return;
        totalUnitCount_ = count;
    }
    countsDidChange();
}

std::int64_t Progress::completedUnitCount() const {
    std::lock_guard lock(mutex_);
    return completedUnitCount_;
}

void Progress::setCompletedUnitCount(std::int64_t count) {
    {
        std::lock_guard lock(mutex_);
        if (completedUnitCount_ == count) return;
        completedUnitCount_ = count;
    }
    countsDidChange();
}

double Progress::fractionCompleted() const {
    std::lock_guard lock(mutex_);
    if (totalUnitCount_ <= 0) return 0.0;
    double units = static_cast<double>(completedUnitCount_);
    for (const Child& child : children_) {
        const double share = std::clamp(child.progress->fractionCompleted(), 0.0, 1.0);
        units += share * static_cast<double>(child.pendingUnitCount);
    }
    return units / static_cast<double>(totalUnitCount_);
}

bool Progress::isIndeterminate() const {
    std::lock_guard lock(mutex_);
    return totalUnitCount_ < 0 || completedUnitCount_ < 0 ||
           (totalUnitCount_ == 0 && completedUnitCount_ == 0);
}

bool Progress::isFinished() const {
    std::lock_guard lock(mutex_);
    return totalUnitCount_ > 0 && completedUnitCount_ >= totalUnitCount_;
}

std::string Progress::localizedDescription() const {
    std::lock_guard lock(mutex_);
    return localizedDescription_;
}

void Progress::setLocalizedDescription(std::string description) {
    {
        std::lock_guard lock(mutex_);
        if (localizedDescription_ == description) return;
        localizedDescription_ = std::move(description);
    }
    notifyObservers();
}

std::string Progress::localizedAdditionalDescription() const {
    std::lock_guard lock(mutex_);
    return localizedAdditionalDescription_;
}

void Progress::setLocalizedAdditionalDescription(std::string description) {
    {
        std::lock_guard lock(mutex_);
        if (localizedAdditionalDescription_ == description) return;
        localizedAdditionalDescription_ = std::move(description);
    }
    notifyObservers();
}

bool Progress::isCancellable() const {
    std::lock_guard lock(mutex_);
    return cancellable_;
}

void Progress::setCancellable(bool cancellable) {
    {
        std::lock_guard lock(mutex_);
        if (cancellable_ == cancellable) return;
        cancellable_ = cancellable;
    }
    notifyObservers();
}

void Progress::cancel() {
    std::function<void()> handler;
    std::vector<std::shared_ptr<Progress>> children;
    {
        std::lock_guard lock(mutex_);
        // The first caller takes the handler out, so racing callers cannot both run it.
        if (cancelled_) return;
        cancelled_ = true;
        handler = std::exchange(cancellationHandler_, nullptr);
        for (const Child& child : children_) children.push_back(child.progress);
    }
    if (handler) handler();
    notifyObservers();
    for (const auto& child : children) child->cancel();
}

bool Progress::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void Progress::setCancellationHandler(std::function<void()> handler) {
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_) {
            cancellationHandler_ = std::move(handler);
            return;
        }
    }
    if (handler) handler();
}

std::shared_ptr<Progress> Progress::current() {
    return currentStack.empty() ? nullptr : currentStack.back().progress;
}

void Progress::becomeCurrent(std::int64_t pendingUnitCount) {
    currentStack.push_back({shared_from_this(), pendingUnitCount});
}

void Progress::resignCurrent() {
    if (currentStack.empty() || currentStack.back().progress.get() != this) {
        throw std::logic_error("resignCurrent on a progress that is not current on this thread");
    }
    const CurrentEntry entry = std::move(currentStack.back());
    currentStack.pop_back();
    if (entry.madeChild || entry.pendingUnitCount == 0) return;
    {
        std::lock_guard lock(mutex_);
        completedUnitCount_ += entry.pendingUnitCount;
    }
    countsDidChange();
}

std::shared_ptr<Progress> Progress::parent() const {
    std::lock_guard lock(mutex_);
    return parent_.lock();
}

std::vector<std::shared_ptr<Progress>> Progress::children() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Progress>> result;
    result.reserve(children_.size());
    for (const Child& child : children_) result.push_back(child.progress);
    return result;
}

void Progress::addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount) {
    child->attachTo(shared_from_this(), pendingUnitCount);
}

void Progress::attachTo(const std::shared_ptr<Progress>& parent, std::int64_t pendingUnitCount) {
    {
        std::lock_guard lock(mutex_);
        if (!parent_.expired()) throw std::logic_error("progress object already has a parent");
        parent_ = parent;
    }
    bool parentCancelled = false;
    {
        std::lock_guard lock(parent->mutex_);
        parent->children_.push_back({shared_from_this(), pendingUnitCount});
        parentCancelled = parent->cancelled_;
    }
    // Checked under the parent's lock together with the insertion, so a concurrent
    // cancel() of the parent either sees this child or is seen here.
    if (parentCancelled) cancel();
    countsDidChange();
}

void Progress::settleChildIfFinished(const Progress& child) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(children_.begin(), children_.end(), [&child](const Child& entry) {
        return entry.progress.get() == &child;
    });
    if (found == children_.end() || !child.isFinished()) return;
    completedUnitCount_ += found->pendingUnitCount;
    children_.erase(found);
}

Progress::ObservationId Progress::observe(Observer observer) {
    std::lock_guard lock(mutex_);
    const ObservationId id = nextObservationId_++;
    observers_.emplace_back(id, std::make_shared<const Observer>(std::move(observer)));
    return id;
}

void Progress::removeObserver(ObservationId id) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void Progress::notifyObservers() const {
    std::vector<std::shared_ptr<const Observer>> observers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : observers_) observers.push_back(entry.second);
    }
    for (const auto& observer : observers) (*observer)(*this);
}

void Progress::countsDidChange() {
    notifyObservers();
    // Holding each level keeps it alive while its parent settles it.
    std::shared_ptr<const Progress> child = shared_from_this();
    for (auto parent = child->parent(); parent; parent = parent->parent()) {
        parent->settleChildIfFinished(*child);
        parent->notifyObservers();
        child = parent;
    }
}

}  // namespace pelkora
