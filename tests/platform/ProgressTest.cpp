#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Progress.h"

namespace pelkora {
namespace {

TEST(ProgressTree, FractionAddsUnfinishedChildrenWeightedByTheirPendingUnits) {
    auto parent = Progress::make(10);
    parent->setCompletedUnitCount(2);
    auto halfDone = Progress::make(2, parent, 4);
    halfDone->setCompletedUnitCount(1);
    auto notStarted = Progress::make(0, parent, 4);

    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), (2.0 + 0.5 * 4) / 10);
    EXPECT_EQ(parent->children().size(), 2u);
    EXPECT_EQ(halfDone->parent(), parent);
    EXPECT_EQ(parent->completedUnitCount(), 2);
}

TEST(ProgressTree, FinishedChildFoldsItsPendingUnitsIntoTheParentUpTheTree) {
    auto root = Progress::make(2);
    auto middle = Progress::make(3, root, 2);
    auto leaf = Progress::make(4, middle, 3);
    leaf->setCompletedUnitCount(2);
    EXPECT_DOUBLE_EQ(root->fractionCompleted(), 0.5);

    leaf->setCompletedUnitCount(4);
    EXPECT_TRUE(middle->isFinished());
    EXPECT_EQ(middle->completedUnitCount(), 3);
    EXPECT_TRUE(middle->children().empty());
    EXPECT_EQ(root->completedUnitCount(), 2);
    EXPECT_TRUE(root->isFinished());
    EXPECT_DOUBLE_EQ(root->fractionCompleted(), 1.0);
}

TEST(ProgressTree, IndeterminateWhenACountIsNegativeOrBothAreZero) {
    auto progress = Progress::make();
    EXPECT_TRUE(progress->isIndeterminate());
    EXPECT_FALSE(progress->isFinished());
    progress->setTotalUnitCount(-1);
    EXPECT_TRUE(progress->isIndeterminate());
    progress->setTotalUnitCount(5);
    EXPECT_FALSE(progress->isIndeterminate());
    progress->setCompletedUnitCount(-1);
    EXPECT_TRUE(progress->isIndeterminate());
    EXPECT_DOUBLE_EQ(Progress::make(0)->fractionCompleted(), 0.0);
}

TEST(ProgressTree, CountsAndDescriptionsMayChangeOnAWorkerWhileAnotherThreadReads) {
    auto root = Progress::make(0);
    auto reading = Progress::make(1000, root, 0);
    std::thread parser([&] {
        for (int n = 1; n <= 1000; ++n) {
            reading->setCompletedUnitCount(n);
            reading->setLocalizedAdditionalDescription("Parsed record " + std::to_string(n));
        }
    });
    double last = 0.0;
    bool neverWentBack = true;
    while (!reading->isFinished()) {
        const double fraction = reading->fractionCompleted();
        neverWentBack = neverWentBack && fraction >= last;
        last = fraction;
        (void)reading->localizedAdditionalDescription();
    }
    parser.join();
    EXPECT_TRUE(neverWentBack);
    EXPECT_EQ(reading->localizedAdditionalDescription(), "Parsed record 1000");
}

TEST(ProgressCancellation, CancelReachesChildrenAndRunsTheHandlerOnce) {
    auto parent = Progress::make(1);
    auto child = Progress::make(1, parent, 1);
    int handlerRuns = 0;
    parent->setCancellationHandler([&] { ++handlerRuns; });
    parent->cancel();
    parent->cancel();
    EXPECT_EQ(handlerRuns, 1);
    EXPECT_TRUE(child->isCancelled());

    auto late = Progress::make(1, parent, 0);
    EXPECT_TRUE(late->isCancelled());
    bool lateHandlerRan = false;
    late->setCancellationHandler([&] { lateHandlerRan = true; });
    EXPECT_TRUE(lateHandlerRan);
}

TEST(ProgressCancellation, HandlerRunsExactlyOnceWhenTwoThreadsCancelTogether) {
    for (int round = 0; round < 200; ++round) {
        auto progress = Progress::make(10);
        std::atomic<int> handlerRuns{0};
        progress->setCancellationHandler([&] { ++handlerRuns; });
        std::barrier start(2);
        auto cancelAfterStart = [&] {
            start.arrive_and_wait();
            progress->cancel();
        };
        std::thread first(cancelAfterStart);
        std::thread second(cancelAfterStart);
        first.join();
        second.join();
        ASSERT_EQ(handlerRuns, 1) << "round " << round;
    }
}

TEST(ProgressCurrent, CurrentProgressBelongsToOneThread) {
    auto progress = Progress::make(0);
    progress->becomeCurrent(0);
    std::shared_ptr<Progress> seenElsewhere = progress;
    std::thread other([&] { seenElsewhere = Progress::current(); });
    other.join();
    EXPECT_EQ(Progress::current(), progress);
    EXPECT_EQ(seenElsewhere, nullptr);
    progress->resignCurrent();
    EXPECT_EQ(Progress::current(), nullptr);
}

TEST(ProgressCurrent, OnlyTheFirstProgressMadeWhileCurrentBecomesItsChild) {
    auto parent = Progress::make(10);
    parent->becomeCurrent(6);
    auto implicitChild = Progress::make(3);
    auto unrelated = Progress::make(3);
    auto explicitParent = Progress::make(0);
    auto explicitChild = Progress::make(1, explicitParent, 0);
    parent->resignCurrent();

    EXPECT_EQ(implicitChild->parent(), parent);
    EXPECT_EQ(unrelated->parent(), nullptr);
    EXPECT_EQ(explicitChild->parent(), explicitParent);
    implicitChild->setCompletedUnitCount(3);
    EXPECT_EQ(parent->completedUnitCount(), 6);
}

TEST(ProgressCurrent, ResigningWithoutAChildCompletesThePendingUnits) {
    auto outer = Progress::make(10);
    auto inner = Progress::make(4);
    outer->becomeCurrent(5);
    inner->becomeCurrent(2);
    EXPECT_EQ(Progress::current(), inner);
    EXPECT_THROW(outer->resignCurrent(), std::logic_error);
    inner->resignCurrent();
    EXPECT_EQ(Progress::current(), outer);
    outer->resignCurrent();
    EXPECT_EQ(inner->completedUnitCount(), 2);
    EXPECT_EQ(outer->completedUnitCount(), 5);
}

TEST(ProgressObservation, ObserversSeeChangesBubbleUpAndMayReadTheProgress) {
    auto root = Progress::make(4);
    auto child = Progress::make(10, root, 4);
    std::vector<double> rootFractions;
    const auto rootObservation = root->observe(
        [&](const Progress& progress) { rootFractions.push_back(progress.fractionCompleted()); });
    std::vector<std::string> childDescriptions;
    child->observe([&](const Progress& progress) {
        childDescriptions.push_back(progress.localizedDescription());
    });

    child->setCompletedUnitCount(5);
    child->setLocalizedDescription("Reading records…");
    EXPECT_EQ(rootFractions, std::vector<double>{0.5});
    EXPECT_EQ(childDescriptions, (std::vector<std::string>{"", "Reading records…"}));

    root->removeObserver(rootObservation);
    child->setCompletedUnitCount(10);
    EXPECT_EQ(rootFractions.size(), 1u);
}

TEST(ProgressObservation, ObserverOfACancelledProgressIsToldOnTheCancellingThread) {
    auto progress = Progress::make(1);
    std::atomic<bool> toldCancelled{false};
    std::thread::id observerThread;
    progress->observe([&](const Progress& observed) {
        toldCancelled = observed.isCancelled();
        observerThread = std::this_thread::get_id();
    });
    std::thread::id cancellingThread;
    std::thread canceller([&] {
        cancellingThread = std::this_thread::get_id();
        progress->cancel();
    });
    canceller.join();
    EXPECT_TRUE(toldCancelled);
    EXPECT_EQ(observerThread, cancellingThread);
}

}  // namespace
}  // namespace pelkora
