#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "ScopedDefaults.h"
#include "ui/AppLanguage.h"
#include "ui/L10n.h"
#include "ui/L10nFormat.h"

namespace quenda {
namespace {

class L10nTest : public ::testing::Test {
  protected:
    test::ScopedDefaults defaults;
};

TEST(AppLanguageTest, RawValuesAreExact) {
    const auto& all = AppLanguage::allCases();
    EXPECT_EQ(all, (std::array<AppLanguage, 3>{AppLanguage::pt, AppLanguage::en, AppLanguage::es}));
    EXPECT_EQ(all[0].displayName(), "Português (Brasil)");
    for (AppLanguage language : all)
        EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
    for (const char* raw : {"pt", "PT-BR", "pt-br", "EN", "Es", "", "en "})
        EXPECT_EQ(AppLanguage::fromRawValue(raw), std::nullopt) << raw;
}

TEST_F(L10nTest, StoredLanguageRules) {
    EXPECT_EQ(L10n::current(), AppLanguage::pt);  // nothing stored
    EXPECT_EQ(L10n::t("status.ready"), "Pronto");
    const std::vector<std::pair<std::string, AppLanguage>> cases = {
        {"en", AppLanguage::en}, {"es", AppLanguage::es}, {"pt-BR", AppLanguage::pt},
        {"EN", AppLanguage::pt}, {"fr", AppLanguage::pt}, {"", AppLanguage::pt}};
    for (const auto& [stored, expected] : cases) {
        defaults.store().setText(L10n::kLanguageKey, stored);
        EXPECT_EQ(L10n::current(), expected) << stored;
    }
    defaults.store().setBoolean(L10n::kLanguageKey, true);  // not a text at all
    EXPECT_EQ(L10n::current(), AppLanguage::pt);
}

TEST_F(L10nTest, LookupsFollowTheStoredLanguageAtOnce) {
    L10n::setCurrent(AppLanguage::es);
    EXPECT_EQ(defaults.store().text("uiLanguage"), "es");
    EXPECT_EQ(L10n::t("status.ready"), "Listo");
    EXPECT_EQ(L10n::t("menu.selectall"), "Seleccionar Todo");
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10n::t("model.large-v3-turbo"), "Default");
    EXPECT_EQ(L10n::t("model.base"), "Basic (faster)");
    EXPECT_EQ(L10n::t("window.title"), "Quenda — Transcription");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(defaults.store().text("uiLanguage"), "pt-BR");
    EXPECT_EQ(L10n::t("live.start"), "▶ Iniciar tradução ao vivo");

    std::vector<std::string> keys;  // the shortcut reads the same in every language
    for (AppLanguage language : AppLanguage::allCases()) {
        L10n::setCurrent(language);
        keys.push_back(L10n::t("hotkey.keys"));
        for (const char* missing : {"status.unknown", "", "Status.Ready", "model."})
            EXPECT_EQ(L10n::t(missing), missing);
    }
    EXPECT_EQ(keys, std::vector<std::string>(3, "(Ctrl + Alt + D)"));
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
    const std::vector<std::pair<double, int>> percents = {
        {0.0, 0}, {1.0, 100}, {-0.5, 0}, {7.0, 100}, {nan, 0}, {inf, 100}, {-inf, 0}};
    for (const auto& [progress, percent] : percents)
        EXPECT_EQ(L10nFormat::percentOf(progress), percent) << progress;

    // Only "%d" and "%%" are filled; nothing else in a text is taken as a directive.
    EXPECT_EQ(L10nFormat::withInteger("%d of %d%%", -3), "-3 of -3%");
    EXPECT_EQ(L10nFormat::withInteger("%s %n %x %", 1), "%s %n %x %");
    EXPECT_EQ(L10nFormat::withInteger("100%%%d", std::numeric_limits<long long>::min()),
              "100%-9223372036854775808");
}

}  // namespace
}  // namespace quenda
