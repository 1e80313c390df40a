#include <gtest/gtest.h>

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
    // A value of the other kind reads as nothing; writing the other kind replaces it.
    EXPECT_EQ(store.boolean("modelID"), std::nullopt);
    EXPECT_EQ(store.text("cleanWithLLM"), std::nullopt);
    store.setText("cleanWithLLM", "true");
    EXPECT_EQ(store.boolean("cleanWithLLM"), std::nullopt);
    store.remove("modelID");
    EXPECT_EQ(store.text("modelID"), std::nullopt);
}

TEST(StandardDefaults, InstalledStoreIsSharedUntilReplaced) {
    auto mine = std::make_shared<InMemoryDefaults>();
    auto previous = installStandardDefaults(mine);
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
