#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/MainQueue.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;

TEST(DispatchQueue, RunsWorkFromManyThreadsOneAtATimeInOrderPerThread) {
    DispatchQueue queue("test-serial");
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::vector<int>> seen(4);
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&, p, i] {
                    if (running.fetch_add(1) != 0)
                        overlapped = true;
                    seen[p].push_back(i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& producer : producers)
        producer.join();
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    for (const auto& values : seen) {
        ASSERT_EQ(values.size(), 200u);
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(values[i], i);
    }
}

TEST(DispatchQueue, SyncReturnsValuesRethrowsAndNestsWithoutDeadlock) {
    DispatchQueue queue("test-sync");
    EXPECT_EQ(queue.sync([] { return 42; }), 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("falhou"); }),
                 std::runtime_error);
    int nested = queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        return queue.sync([] { return 7; });
    });
    EXPECT_EQ(nested, 7);
    EXPECT_FALSE(queue.isCurrent());
    // A throwing async job does not take the queue down.
    queue.async([] { throw std::runtime_error("ignored"); });
    EXPECT_EQ(queue.sync([] { return 1; }), 1);
}

TEST(DispatchQueue, DestructionRunsWhatIsStillQueued) {
    std::atomic<int> ran{0};
    {
        DispatchQueue queue("test-drain");
        queue.async([] { std::this_thread::sleep_for(20ms); });
        for (int i = 0; i < 10; ++i)
            queue.async([&] { ++ran; });
    }
    EXPECT_EQ(ran, 10);
}

TEST(ManualMainQueue, RunsPostedWorkOnlyWhenDrainedAndWaitsForLateWork) {
    ManualMainQueue main;
    std::vector<int> order;
    main.post([&] {
        order.push_back(1);
        main.post([&] { order.push_back(3); });
    });
    main.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(main.drain(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    std::thread late([&] {
        std::this_thread::sleep_for(30ms);
        main.post([&] { order.push_back(4); });
    });
    EXPECT_TRUE(main.runUntil([&] { return order.size() == 4; }, 5s));
    late.join();
    EXPECT_FALSE(main.runUntil([&] { return order.size() == 5; }, 20ms));
}

}  // namespace
}  // namespace quenda
