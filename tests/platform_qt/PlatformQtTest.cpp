// The Qt adapters: the settings file behind the defaults store and the main queue.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <ranges>
#include <thread>

#include "platform_qt/DefaultsQt.h"
#include "platform_qt/MainQueueQt.h"
#include "support/QtTestSupport.h"

namespace quenda {
namespace {

TEST(DefaultsQt, ValuesAreOnDiskAsSoonAsTheyAreSetAndOnlyBooleanWordsAreBooleans) {
    test::TempDir dir;
    const auto file = dir / "Quenda.conf";
    DefaultsQt store(file);
    store.setBoolean("cleanWithLLM", true);
    // An awkward text for an INI file: separators, quotes, accents, a leading '@'.
    const std::string awkward = "a=b, c; \"d\" @Invalid() Português ✓ [x]\\";
    store.setText("modelID", awkward);
    DefaultsQt reopened(file);  // a second reader sees what the first wrote, without a restart
    EXPECT_EQ(reopened.boolean("cleanWithLLM"), true);
    EXPECT_EQ(reopened.text("modelID"), awkward);
    store.remove("modelID");
    EXPECT_EQ(DefaultsQt(file).text("modelID"), std::nullopt);

    test::writeFile(dir / "Other.conf", "[General]\ncleanWithLLM=yes\nflag=false\n");
    DefaultsQt other(dir / "Other.conf");
    EXPECT_EQ(other.boolean("cleanWithLLM"), std::nullopt);
    EXPECT_EQ(other.text("cleanWithLLM"), "yes");
    EXPECT_EQ(other.boolean("flag"), false);
    EXPECT_EQ(other.text("flag"), std::nullopt);
    EXPECT_EQ(other.boolean("missing"), std::nullopt);

    // A writer and a reader on two threads.
    std::jthread reader([&] {
        for (int i = 0; i < 200; ++i)
            store.text("uiLanguage");
    });
    for (int i = 0; i < 200; ++i)
        store.setText("uiLanguage", i % 2 ? "en" : "es");
    reader.join();
    EXPECT_EQ(DefaultsQt(file).text("uiLanguage"), "en");
}

class MainQueueQtTest : public ::testing::Test {
  protected:
    test::ScopedQtApplication<QCoreApplication> application;
};

TEST_F(MainQueueQtTest, WorkFromOtherThreadsRunsOnTheMainThreadInPostingOrder) {
    MainQueueQt queue;
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> seen[2];  // touched on the main thread only
    bool offMain = false;
    std::jthread other([&] {
        for (int i = 0; i < 200; ++i) {
            queue.post([&, i] {
                offMain = offMain || std::this_thread::get_id() != mainThread;
                seen[0].push_back(i);
            });
        }
    });
    for (int i = 0; i < 200; ++i)
        queue.post([&, i] { seen[1].push_back(i); });
    other.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return seen[0].size() + seen[1].size() == 400; }));
    EXPECT_FALSE(offMain);
    EXPECT_TRUE(std::ranges::equal(seen[0], std::views::iota(0, 200)));
    EXPECT_TRUE(std::ranges::equal(seen[1], std::views::iota(0, 200)));
}

TEST_F(MainQueueQtTest, HeldWorkWaitsForReleaseAndDiesWithTheQueue) {
    std::vector<int> order;
    {
        MainQueueQt held(MainQueueQt::Start::held), dropped(MainQueueQt::Start::held);
        held.post([&] { order.push_back(1); });
        held.post([&] { order.push_back(2); });
        dropped.post([&] { order.push_back(99); });
        QCoreApplication::processEvents();
        EXPECT_EQ(order, std::vector<int>{});
        held.release();
        held.post([&] { order.push_back(3); });
        ASSERT_TRUE(test::processEventsUntil([&] { return order.size() == 3; }));
        dropped.release();
        dropped.post([&] { order.push_back(99); });
    }  // destroyed before its work could run
    QCoreApplication::processEvents();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace quenda
