// A program of its own, so that the table's first use really happens here, from several
// threads at once (run it under ThreadSanitizer).

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ScopedDefaults.h"
#include "ui/L10n.h"

namespace quenda {
namespace {

TEST(L10nFirstUse, ConcurrentFirstLookupsAllSeeTheWholeTable) {
    test::ScopedDefaults defaults;
    defaults.store().setText("uiLanguage", "es");
    constexpr int kThreads = 8;
    std::atomic<int> waiting{kThreads};
    std::vector<std::string> texts(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            --waiting;
            while (waiting > 0) {
            }
            texts[t] = L10n::t("menu.quit") + "|" + L10n::t("no.such.key");
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(texts, std::vector<std::string>(kThreads, "Salir de Quenda|no.such.key"));
}

}  // namespace
}  // namespace quenda
