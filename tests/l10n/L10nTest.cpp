#include <gtest/gtest.h>

#include <latch>
#include <limits>
#include <thread>
#include <vector>

#include "l10n/AppLanguage.h"
#include "l10n/L10n.h"
#include "l10n/L10nFormat.h"
#include "platform/Defaults.h"
#include "platform/InMemoryDefaults.h"

namespace quenda {
namespace {

// A fresh in-memory standard defaults store for each test.
class L10nTest : public ::testing::Test {
  protected:
    L10nTest() : previous(installStandardDefaults(store)) {}
    ~L10nTest() override { installStandardDefaults(previous); }
    std::shared_ptr<InMemoryDefaults> store = std::make_shared<InMemoryDefaults>();
    std::shared_ptr<Defaults> previous;
};

// First in the file, so that the table's first use happens here, from several threads at once
// (ctest also runs every test in a process of its own).
TEST_F(L10nTest, ConcurrentFirstLookupsAllSeeTheWholeTable) {
    store->setText("uiLanguage", "es");
    std::latch together(8);
    std::vector<std::string> texts(8);
    {
        std::vector<std::jthread> threads;
        for (auto& text : texts) {
            threads.emplace_back([&] {
                together.arrive_and_wait();
                text = L10n::t("menu.quit") + "|" + L10n::t("no.such.key");
            });
        }
    }
    EXPECT_EQ(texts, std::vector<std::string>(8, "Salir de Quenda|no.such.key"));
}

TEST_F(L10nTest, StoredLanguageRulesAndLookups) {
    EXPECT_EQ(L10n::current(), AppLanguage::pt);  // nothing stored
    EXPECT_EQ(L10n::t("status.ready"), "Pronto");
    // Only the exact raw values count.
    for (const char* stored : {"pt-BR", "EN", "Es", "fr", "", "en "}) {
        store->setText(L10n::kLanguageKey, stored);
        EXPECT_EQ(L10n::current(), AppLanguage::pt) << stored;
    }
    store->setText(L10n::kLanguageKey, "es");
    store->setBoolean(L10n::kLanguageKey, true);  // not a text at all, and it replaces the text
    EXPECT_EQ(L10n::current(), AppLanguage::pt);

    // Lookups follow a language set at once.
    L10n::setCurrent(AppLanguage::es);
    EXPECT_EQ(store->text("uiLanguage"), "es");
    EXPECT_EQ(L10n::t("status.ready"), "Listo");
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10n::t("window.title"), "Quenda — Transcription");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(store->text("uiLanguage"), "pt-BR");

    for (const char* missing : {"status.unknown", "", "Status.Ready", "model."})
        EXPECT_EQ(L10n::t(missing), missing);
}

TEST_F(L10nTest, NumbersInTheTwoFormatTexts) {
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10nFormat::modelDownloading(0.42), "Downloading model… 42%");
    EXPECT_EQ(L10nFormat::modelMissing(1600),
              "This model hasn't been downloaded yet (1600 MB, one time only).");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(L10nFormat::modelDownloading(0.999), "Baixando modelo… 99%");  // truncated

    // Whatever a caller hands over stays within 0 to 100.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [progress, percent] : std::vector<std::pair<double, int>>{
             {0.0, 0}, {1.0, 100}, {-0.5, 0}, {7.0, 100}, {nan, 0}, {inf, 100}, {-inf, 0}})
        EXPECT_EQ(L10nFormat::percentOf(progress), percent) << progress;

    // Only "%d" and "%%" are filled; nothing else in a text is taken as a directive.
    EXPECT_EQ(L10nFormat::withInteger("%d of %d%%", -3), "-3 of -3%");
    EXPECT_EQ(L10nFormat::withInteger("%s %n %x %", 1), "%s %n %x %");
    EXPECT_EQ(L10nFormat::withInteger("100%%%d", std::numeric_limits<long long>::min()),
              "100%-9223372036854775808");
}

}  // namespace
}  // namespace quenda
