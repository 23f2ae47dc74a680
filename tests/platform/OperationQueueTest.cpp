#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace pelkora {
namespace {

using namespace std::chrono_literals;

// A one-shot signal between threads; waiting gives up after a generous timeout so that a
// broken implementation fails the test instead of hanging it.
class Gate {
  public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

TEST(OperationQueue, RunsOperationsInAddingOrderOnABackgroundThread) {
    OperationQueue queue("test.order");
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 20; ++i) {
        queue.addOperation([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    queue.waitUntilAllOperationsAreFinished();

    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) expected[i] = i;
    EXPECT_EQ(order, expected);
    EXPECT_THAT(threads, testing::Not(testing::Contains(std::this_thread::get_id())));
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, SerialQueueNeverOverlapsOperations) {
    OperationQueue queue("test.serial");
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    for (int i = 0; i < 200; ++i) {
        queue.addOperation([&] {
            const int now = ++running;
            mostRunning = std::max(mostRunning.load(), now);
            std::this_thread::yield();
            --running;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(mostRunning, 1);
}

TEST(OperationQueue, QueueOfTwoRunsTwoOperationsAtOnce) {
    OperationQueue queue("test.concurrent", 2);
    Gate firstStarted;
    Gate secondStarted;
    std::atomic<bool> firstSawSecond{false};
    std::atomic<bool> secondSawFirst{false};
    queue.addOperation([&] {
        firstStarted.open();
        firstSawSecond = secondStarted.wait();
    });
    queue.addOperation([&] {
        secondStarted.open();
        secondSawFirst = firstStarted.wait();
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(firstSawSecond);
    EXPECT_TRUE(secondSawFirst);
}

TEST(OperationQueue, WaitingCoversManyAddsAndOperationsAddedByOperations) {
    OperationQueue queue("test.many", 4);
    std::atomic<int> ran{0};
    for (int i = 0; i < 500; ++i) {
        queue.addOperation([&] {
            ++ran;
            queue.addOperation([&] { ++ran; });
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 1000);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, CurrentNamesTheQueueOnlyInsideItsOperations) {
    OperationQueue queue("test.current");
    OperationQueue* seen = nullptr;
    queue.addOperation([&] { seen = OperationQueue::current(); });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(seen, &queue);
    EXPECT_EQ(OperationQueue::current(), nullptr);
    EXPECT_EQ(queue.name(), "test.current");
}

TEST(OperationQueue, ExceptionInABodyIsReportedAndTheWorkerCarriesOn) {
    OperationQueue queue("test.exception");
    std::vector<std::string> reported;
    queue.setUncaughtExceptionHandler([&](const std::string& what) { reported.push_back(what); });
    auto failing = queue.addOperation([] { throw std::runtime_error("row 7 is broken"); });
    std::atomic<bool> laterRan{false};
    queue.addOperation([&] { laterRan = true; });
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_TRUE(failing->isFinished());
    EXPECT_TRUE(laterRan);
    EXPECT_EQ(reported, std::vector<std::string>{"row 7 is broken"});
}

TEST(OperationQueue, MisuseIsRefused) {
    OperationQueue queue("test.misuse");
    auto operation = std::make_shared<Operation>([](Operation&) {});
    queue.addOperation(operation);
    EXPECT_THROW(queue.addOperation(operation), std::logic_error);

    std::atomic<bool> waitThrew{false};
    queue.addOperation([&] {
        try {
            queue.waitUntilAllOperationsAreFinished();
        } catch (const std::logic_error&) {
            waitThrew = true;
        }
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(waitThrew);
}

TEST(OperationQueue, WaitingOnTheMainThreadWhileOperationsPostToItDoesNotDeadlock) {
    MainQueue::shared().adoptCurrentThreadAsMain();
    MainQueue::shared().drain();
    OperationQueue queue("test.post");
    std::atomic<bool> ranOnMain{false};
    queue.addOperation([&] { MainQueue::shared().post([&] { ranOnMain = true; }); });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(ranOnMain);
    EXPECT_EQ(MainQueue::shared().drain(), 1u);
    EXPECT_TRUE(ranOnMain);
}

TEST(OperationQueueCancellation, CancellingAllBeforeStartSkipsBodiesButFinishesThem) {
    OperationQueue queue("test.cancel-all");
    Gate blockerStarted;
    Gate release;
    std::atomic<bool> blockerSawCancel{false};
    auto blocker = queue.addOperation([&](Operation& self) {
        blockerStarted.open();
        release.wait();
        blockerSawCancel = self.isCancelled();
    });
    std::atomic<int> skippedBodiesRan{0};
    auto capturedState = std::make_shared<int>(0);
    std::vector<std::shared_ptr<Operation>> waiting;
    for (int i = 0; i < 5; ++i) {
        waiting.push_back(queue.addOperation([&, capturedState] { ++skippedBodiesRan; }));
    }
    ASSERT_TRUE(blockerStarted.wait());

    queue.cancelAllOperations();
    for (const auto& operation : waiting) {
        EXPECT_TRUE(operation->isCancelled());
        EXPECT_TRUE(operation->isFinished());
    }
    EXPECT_EQ(capturedState.use_count(), 1) << "skipped bodies still hold what they captured";
    release.open();
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_EQ(skippedBodiesRan, 0);
    EXPECT_TRUE(blockerSawCancel);
    EXPECT_TRUE(blocker->isFinished());
}

TEST(OperationQueueCancellation, OperationCancelledBeforeItStartsNeverRunsItsBody) {
    OperationQueue queue("test.cancel-one");
    Gate release;
    queue.addOperation([&] { release.wait(); });
    std::atomic<bool> ran{false};
    auto cancelled = queue.addOperation([&] { ran = true; });
    cancelled->cancel();
    release.open();
    cancelled->waitUntilFinished();
    EXPECT_FALSE(ran);
}

TEST(OperationQueueCancellation, BodySeesCancellationWhileRunning) {
    OperationQueue queue("test.cancel-running");
    Gate started;
    std::atomic<bool> sawCancel{false};
    auto operation = queue.addOperation([&](Operation& self) {
        started.open();
        for (int i = 0; i < 10'000 && !self.isCancelled(); ++i) std::this_thread::sleep_for(1ms);
        sawCancel = self.isCancelled();
    });
    ASSERT_TRUE(started.wait());
    operation->cancel();
    operation->waitUntilFinished();
    EXPECT_TRUE(sawCancel);
}

TEST(OperationQueueCancellation, DestructionCancelsAndJoinsTheWorkers) {
    Gate started;
    std::atomic<bool> runningBodyReturned{false};
    std::atomic<bool> waitingBodyRan{false};
    std::shared_ptr<Operation> waiting;
    {
        OperationQueue queue("test.destroy");
        queue.addOperation([&](Operation& self) {
            started.open();
            for (int i = 0; i < 10'000 && !self.isCancelled(); ++i) {
                std::this_thread::sleep_for(1ms);
            }
            runningBodyReturned = true;
        });
        waiting = queue.addOperation([&] { waitingBodyRan = true; });
        ASSERT_TRUE(started.wait());
    }
    EXPECT_TRUE(runningBodyReturned);
    EXPECT_FALSE(waitingBodyRan);
    EXPECT_TRUE(waiting->isFinished());
}

class MainQueueTest : public testing::Test {
  protected:
    void SetUp() override {
        queue.adoptCurrentThreadAsMain();
        queue.drain();
    }
    void TearDown() override {
        queue.setDispatcher(nullptr);
        queue.drain();
    }
    MainQueue& queue = MainQueue::shared();
};

TEST_F(MainQueueTest, PostsFromManyThreadsRunOnTheMainThreadInEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPostsPerThread = 300;
    std::map<int, std::vector<int>> seen;  // touched only on the main thread
    std::atomic<int> offMainThread{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPostsPerThread; ++i) {
                queue.post([&, t, i] {
                    if (!queue.isMainThread()) ++offMainThread;
                    seen[t].push_back(i);
                });
            }
        });
    }
    const bool allRan = queue.runUntil(
        [&] {
            std::size_t total = 0;
            for (const auto& [thread, values] : seen) total += values.size();
            return total == kThreads * kPostsPerThread;
        },
        60s);
    for (auto& poster : posters) poster.join();

    ASSERT_TRUE(allRan);
    EXPECT_EQ(offMainThread, 0);
    for (const auto& [thread, values] : seen) {
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << "thread " << thread;
    }
}

TEST_F(MainQueueTest, RunUntilReturnsOnceDoneTurnsTrue) {
    bool finished = false;
    std::thread worker([&] { queue.post([&] { finished = true; }); });
    EXPECT_TRUE(queue.runUntil([&] { return finished; }, 60s));
    worker.join();

    std::atomic<bool> flagSetWithoutPosting{false};
    std::thread setter([&] { flagSetWithoutPosting = true; });
    EXPECT_TRUE(queue.runUntil([&] { return flagSetWithoutPosting.load(); }, 60s));
    setter.join();

    EXPECT_FALSE(queue.runUntil([] { return false; }, 1ms));
}

TEST_F(MainQueueTest, RunSynchronouslyFromAWorkerWaitsForTheMainThread) {
    std::atomic<bool> workerDone{false};
    bool ranOnMain = false;
    bool valueVisibleToWorker = false;
    bool exceptionReachedWorker = false;
    std::thread worker([&] {
        int value = 0;
        queue.runSynchronously([&] {
            ranOnMain = queue.isMainThread();
            value = 42;
        });
        valueVisibleToWorker = value == 42;
        try {
            queue.runSynchronously([] { throw std::runtime_error("refused"); });
        } catch (const std::runtime_error&) {
            exceptionReachedWorker = true;
        }
        workerDone = true;
    });
    EXPECT_TRUE(queue.runUntil([&] { return workerDone.load(); }, 60s));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(valueVisibleToWorker);
    EXPECT_TRUE(exceptionReachedWorker);

    bool ranInline = false;
    queue.runSynchronously([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);
}

TEST_F(MainQueueTest, DispatcherTakesOverQueuedAndLaterPostsInOrder) {
    std::vector<MainQueue::Task> handedOver;
    std::vector<std::string> ran;
    queue.post([&] { ran.push_back("before"); });
    queue.setDispatcher([&](MainQueue::Task task) { handedOver.push_back(std::move(task)); });
    queue.post([&] { ran.push_back("after"); });

    EXPECT_EQ(handedOver.size(), 2u);
    for (const auto& task : handedOver) task();
    EXPECT_EQ(ran, (std::vector<std::string>{"before", "after"}));

    queue.setDispatcher(nullptr);
    queue.post([&] { ran.push_back("back"); });
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(handedOver.size(), 2u);
}

}  // namespace
}  // namespace pelkora
