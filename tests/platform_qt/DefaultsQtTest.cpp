#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform_qt/DefaultsQt.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

class DefaultsQtTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::filesystem::path file = dir / "Quenda.conf";
};

TEST_F(DefaultsQtTest, ValuesAreOnDiskAsSoonAsTheyAreSet) {
    DefaultsQt store(file);
    store.setText("modelID", "base");
    store.setBoolean("cleanWithLLM", true);
    // Awkward texts for an INI file: separators, quotes, accents, a leading '@'.
    const std::string awkward = "a=b, c; \"d\" @Invalid() Português ✓ [x]\\";
    store.setText("odd", awkward);

    DefaultsQt reopened(file);  // a second reader sees what the first wrote, without a restart
    EXPECT_EQ(reopened.text("modelID"), "base");
    EXPECT_EQ(reopened.boolean("cleanWithLLM"), true);
    EXPECT_EQ(reopened.text("odd"), awkward);
    store.remove("modelID");
    EXPECT_EQ(DefaultsQt(file).text("modelID"), std::nullopt);
}

TEST_F(DefaultsQtTest, OnlyTheBooleanWordsReadAsBooleans) {
    test::writeFile(file, "[General]\ncleanWithLLM=yes\nflag=false\n");
    DefaultsQt store(file);
    EXPECT_EQ(store.boolean("cleanWithLLM"), std::nullopt);
    EXPECT_EQ(store.text("cleanWithLLM"), "yes");
    EXPECT_EQ(store.boolean("flag"), false);
    EXPECT_EQ(store.text("flag"), std::nullopt);
    EXPECT_EQ(store.text("missing"), std::nullopt);
    EXPECT_EQ(store.boolean("missing"), std::nullopt);
}

TEST_F(DefaultsQtTest, ReadersAndAWriterOnSeveralThreads) {
    DefaultsQt store(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0)
                    store.setText("uiLanguage", i % 2 ? "en" : "es");
                else
                    store.text("uiLanguage");
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(DefaultsQt(file).text("uiLanguage"), "en");
}

}  // namespace
}  // namespace quenda
