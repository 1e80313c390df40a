#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <memory>
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
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Before static destruction, while Qt's own globals still exist.
    static void TearDownTestSuite() { application.reset(); }

    // Runs the event loop until `condition` holds or `limit` passes.
    static bool processUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds limit = std::chrono::seconds(2)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return condition();
    }

    static inline std::unique_ptr<QCoreApplication> application;
};

TEST_F(MainQueueQtTest, WorkFromOtherThreadsRunsOnTheMainThreadInPostingOrder) {
    MainQueueQt queue;
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::vector<int>> seen(2);  // touched on the main thread only
    bool offMain = false;
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                queue.post([&, t, i] {
                    offMain = offMain || std::this_thread::get_id() != mainThread;
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(processUntil([&] { return seen[0].size() + seen[1].size() == 400; }));
    EXPECT_FALSE(offMain);
    for (const auto& list : seen) {
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(list[i], i);
    }
}

TEST_F(MainQueueQtTest, HeldWorkWaitsForReleaseAndDiesWithTheQueue) {
    std::vector<int> order;
    {
        MainQueueQt held(MainQueueQt::Start::held), dropped(MainQueueQt::Start::held);
        held.post([&] { order.push_back(1); });
        held.post([&] { order.push_back(2); });
        dropped.post([&] { order.push_back(99); });
        EXPECT_FALSE(processUntil([&] { return !order.empty(); }, std::chrono::milliseconds(50)));

        held.release();
        held.post([&] { order.push_back(3); });
        ASSERT_TRUE(processUntil([&] { return order.size() == 3; }));
        dropped.release();
        dropped.post([&] { order.push_back(99); });
    }  // destroyed before its work could run
    processUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace quenda
