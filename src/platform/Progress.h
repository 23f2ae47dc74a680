#pragma once

// A tree of progress reports. Work that knows how far it has got sets unit counts on its
// own progress object; a parent's fraction includes its children's fractions weighted by
// the units each child stands for in the parent. The session keeps one root and shows
// whichever descendant is current.
//
// Every object is safe to use from several threads: a parser sets counts on its thread
// while the main thread reads them. Observers run on the thread that made the change,
// with no lock held, so they may read the object (but should post to MainQueue before
// touching a view).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelkora {

class Progress : public std::enable_shared_from_this<Progress> {
    struct ConstructionKey {
        explicit ConstructionKey() = default;
    };

  public:
    using Observer = std::function<void(const Progress&)>;
    using ObservationId = std::uint64_t;

    // Makes a progress object. With a parent it becomes the parent's child standing for
    // pendingUnitCountInParent of the parent's units. Without one, it becomes the child of
    // the calling thread's current progress if that has not had a child since becomeCurrent.
    static std::shared_ptr<Progress> make(std::int64_t totalUnitCount = 0,
                                          const std::shared_ptr<Progress>& parent = nullptr,
                                          std::int64_t pendingUnitCountInParent = 0);

    // Use make(); the key keeps the constructor out of reach while allowing make_shared.
    Progress(ConstructionKey, std::int64_t totalUnitCount);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t count);
    // Includes the pending units of children that have finished.
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t count);

    // Completed units plus the unfinished children's shares, over the total; 0 when the
    // total is not positive.
    double fractionCompleted() const;
    // True when either count is negative or both are 0.
    bool isIndeterminate() const;
    // True when the total is positive and the completed count has reached it.
    bool isFinished() const;

    std::string localizedDescription() const;
    void setLocalizedDescription(std::string description);
    std::string localizedAdditionalDescription() const;
    void setLocalizedAdditionalDescription(std::string description);

    // Whether the user may cancel (a hint for the progress sheet; cancel() always works).
    bool isCancellable() const;
    void setCancellable(bool cancellable);

    // Marks this object and its children cancelled and runs the cancellation handler,
    // once, on the calling thread.
    void cancel();
    bool isCancelled() const;
    // Sets the handler cancel() runs; after cancellation it runs at once instead.
    void setCancellationHandler(std::function<void()> handler);

    // The calling thread's current progress, or null.
    static std::shared_ptr<Progress> current();
    // Makes this the calling thread's current progress until resignCurrent; the next object
    // made on this thread without a parent becomes its child with pendingUnitCount units.
    void becomeCurrent(std::int64_t pendingUnitCount);
    // Restores the previous current progress. When no child was made meanwhile, the pending
    // units count as completed. Throws std::logic_error unless this is current on the thread.
    void resignCurrent();

    // The parent, or null when there is none or it is gone (a child does not keep it alive).
    std::shared_ptr<Progress> parent() const;
    // The children that have not finished; finished ones are folded into completedUnitCount.
    std::vector<std::shared_ptr<Progress>> children() const;
    // Adopts a child made without a parent; throws std::logic_error if it already has one.
    void addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount);

    // Calls observer after every change of counts, descriptions or cancellation of this
    // object, and of the counts of its descendants.
    ObservationId observe(Observer observer);
    // Stops calls to the observer; a call already under way on another thread may finish.
    void removeObserver(ObservationId id);

  private:
    struct Child {
        std::shared_ptr<Progress> progress;
        std::int64_t pendingUnitCount;
    };

    void attachTo(const std::shared_ptr<Progress>& parent, std::int64_t pendingUnitCount);
    // Folds the child into completedUnitCount and drops it once it has finished.
    void settleChildIfFinished(const Progress& child);
    void notifyObservers() const;
    // Notifies this object's observers, then each ancestor's, settling finished children
    // on the way up.
    void countsDidChange();

    mutable std::mutex mutex_;
    std::int64_t totalUnitCount_;
    std::int64_t completedUnitCount_ = 0;
    std::string localizedDescription_;
    std::string localizedAdditionalDescription_;
    bool cancellable_ = true;
    bool cancelled_ = false;
    std::function<void()> cancellationHandler_;
    std::weak_ptr<Progress> parent_;
    std::vector<Child> children_;
    std::vector<std::pair<ObservationId, std::shared_ptr<const Observer>>> observers_;
    ObservationId nextObservationId_ = 1;
};

}  // namespace pelkora
