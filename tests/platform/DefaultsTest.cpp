#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Defaults.h"
#include "platform/InMemoryDefaults.h"

namespace quenda {
namespace {

TEST(InMemoryDefaults, TellsAbsentValuesAndTheTwoKindsApart) {
    InMemoryDefaults store;
    EXPECT_EQ(store.text("modelID"), std::nullopt);
    EXPECT_EQ(store.boolean("cleanWithLLM"), std::nullopt);

    store.setText("modelID", "base");
    store.setBoolean("cleanWithLLM", false);
    EXPECT_EQ(store.text("modelID"), "base");
    EXPECT_EQ(store.boolean("cleanWithLLM"), false);
    // A value of the other kind reads as nothing.
    EXPECT_EQ(store.boolean("modelID"), std::nullopt);
    EXPECT_EQ(store.text("cleanWithLLM"), std::nullopt);

    // Writing the other kind replaces the value and its kind.
    store.setText("cleanWithLLM", "true");
    EXPECT_EQ(store.boolean("cleanWithLLM"), std::nullopt);
    EXPECT_EQ(store.text("cleanWithLLM"), "true");

    store.setText("empty", "");
    EXPECT_EQ(store.text("empty"), "");

    store.remove("modelID");
    store.remove("never-set");
    EXPECT_EQ(store.text("modelID"), std::nullopt);
}

TEST(InMemoryDefaults, ReadersAndWritersOnSeveralThreads) {
    InMemoryDefaults store;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go) {
            }
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    store.setText("uiLanguage", i % 2 ? "en" : "es");
                    store.setBoolean("flag", i % 2 == 0);
                } else {
                    auto language = store.text("uiLanguage");
                    EXPECT_TRUE(!language || *language == "en" || *language == "es");
                    store.boolean("flag");
                }
            }
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
}

TEST(StandardDefaults, InstalledStoreIsSharedUntilReplaced) {
    auto mine = std::make_shared<InMemoryDefaults>();
    auto previous = installStandardDefaults(mine);
    ASSERT_NE(previous, nullptr);
    standardDefaults()->setText("uiLanguage", "es");
    EXPECT_EQ(mine->text("uiLanguage"), "es");

    // Installing nothing gives a fresh, empty store rather than no store at all.
    EXPECT_EQ(installStandardDefaults(nullptr), mine);
    ASSERT_NE(standardDefaults(), nullptr);
    EXPECT_EQ(standardDefaults()->text("uiLanguage"), std::nullopt);
    installStandardDefaults(previous);
}

}  // namespace
}  // namespace quenda
