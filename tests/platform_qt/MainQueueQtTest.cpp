#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform_qt/MainQueueQt.h"

namespace quenda {
namespace {

class MainQueueQtTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "MainQueueQtTest";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            application = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Before static destruction, when Qt's own globals are still there.
    static void TearDownTestSuite() { application.reset(); }

    // Runs the event loop until `condition` holds or two seconds pass.
    template <typename Condition>
    static bool processUntil(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return condition();
    }

    static void processFor(std::chrono::milliseconds duration) {
        const auto deadline = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    static inline std::unique_ptr<QCoreApplication> application;
};

TEST_F(MainQueueQtTest, WorkFromOtherThreadsRunsOnTheMainThreadInPostingOrder) {
    MainQueueQt queue;
    const auto mainThread = std::this_thread::get_id();
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::vector<int>> seen(kThreads);  // touched on the main thread only
    std::atomic<int> offMain{0};

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                queue.post([&, t, i] {
                    if (std::this_thread::get_id() != mainThread)
                        ++offMain;
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(processUntil([&] {
        size_t total = 0;
        for (const auto& list : seen)
            total += list.size();
        return total == kThreads * kEach;
    }));
    EXPECT_EQ(offMain, 0);
    for (const auto& list : seen) {
        for (int i = 0; i < kEach; ++i)
            ASSERT_EQ(list[i], i);
    }
}

TEST_F(MainQueueQtTest, HeldWorkWaitsForReleaseAndKeepsItsPlace) {
    MainQueueQt queue(MainQueueQt::Start::held);
    std::vector<int> order;
    queue.post([&] { order.push_back(1); });
    queue.post([&] { order.push_back(2); });
    processFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(order.empty());

    queue.release();
    queue.post([&] { order.push_back(3); });
    queue.release();  // a second release changes nothing
    ASSERT_TRUE(processUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(MainQueueQtTest, WorkLeftInADestroyedQueueNeverRuns) {
    auto ran = std::make_shared<std::atomic<int>>(0);
    {
        MainQueueQt running;
        MainQueueQt held(MainQueueQt::Start::held);
        running.post([ran] { ++*ran; });
        held.post([ran] { ++*ran; });
    }
    processFor(std::chrono::milliseconds(50));
    EXPECT_EQ(*ran, 0);
}

}  // namespace
}  // namespace quenda
