#include <gtest/gtest.h>

#include <cmath>
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

TEST(AppLanguageTest, RawValuesDisplayNamesAndOrder) {
    const auto& all = AppLanguage::allCases();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], AppLanguage::pt);
    EXPECT_EQ(all[1], AppLanguage::en);
    EXPECT_EQ(all[2], AppLanguage::es);
    EXPECT_EQ(AppLanguage(AppLanguage::pt).displayName(), "Português (Brasil)");
    EXPECT_EQ(AppLanguage(AppLanguage::en).displayName(), "English");
    EXPECT_EQ(AppLanguage(AppLanguage::es).displayName(), "Español");
    for (AppLanguage language : all)
        EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
    for (const char* raw : {"pt", "PT-BR", "pt-br", "EN", "Es", "", "fr", "en "})
        EXPECT_EQ(AppLanguage::fromRawValue(raw), std::nullopt) << raw;
}

TEST_F(L10nTest, StoredLanguageRules) {
    EXPECT_EQ(L10n::current(), AppLanguage::pt);  // nothing stored
    EXPECT_EQ(L10n::t("status.ready"), "Pronto");

    const std::vector<std::pair<std::string, AppLanguage>> cases = {
        {"en", AppLanguage::en}, {"es", AppLanguage::es}, {"pt-BR", AppLanguage::pt},
        {"EN", AppLanguage::pt}, {"Es", AppLanguage::pt}, {"PT-BR", AppLanguage::pt},
        {"fr", AppLanguage::pt}, {"", AppLanguage::pt},   {"en-US", AppLanguage::pt}};
    for (const auto& [stored, expected] : cases) {
        defaults.store().setText(L10n::kLanguageKey, stored);
        EXPECT_EQ(L10n::current(), expected) << stored;
    }
    defaults.store().setBoolean(L10n::kLanguageKey, true);  // not a text at all
    EXPECT_EQ(L10n::current(), AppLanguage::pt);
}

TEST_F(L10nTest, SettingTheLanguageStoresItsRawValueAndTakesEffectAtOnce) {
    L10n::setCurrent(AppLanguage::es);
    EXPECT_EQ(defaults.store().text("uiLanguage"), "es");
    EXPECT_EQ(L10n::t("status.ready"), "Listo");
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10n::t("status.ready"), "Ready");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(defaults.store().text("uiLanguage"), "pt-BR");
    EXPECT_EQ(L10n::t("status.ready"), "Pronto");
}

TEST_F(L10nTest, UnknownKeysComeBackUnchangedInEveryLanguage) {
    for (AppLanguage language : AppLanguage::allCases()) {
        L10n::setCurrent(language);
        for (const char* key : {"status.unknown", "", "Status.Ready", "status.ready ", "model."})
            EXPECT_EQ(L10n::t(key), key);
    }
}

TEST_F(L10nTest, EveryKeyHasItsOwnTextInAllThreeLanguages) {
    const std::vector<std::string> keys = {"window.title",
                                           "app.language",
                                           "drop.title",
                                           "model",
                                           "model.large-v3-turbo",
                                           "model.base",
                                           "model.missing",
                                           "model.download",
                                           "model.downloading",
                                           "model.cancel",
                                           "clean.toggle",
                                           "hotkey.label",
                                           "hotkey.keys",
                                           "hotkey.hint",
                                           "hotkey.recording",
                                           "accessibility.warning",
                                           "live.title",
                                           "live.subtitle",
                                           "live.source",
                                           "live.source.en",
                                           "live.source.es",
                                           "live.source.auto",
                                           "live.speak",
                                           "live.mute",
                                           "live.start",
                                           "live.stop",
                                           "live.permissions",
                                           "last.title",
                                           "summary.title",
                                           "summary.expand",
                                           "summary.collapse",
                                           "summary.copyall",
                                           "btn.transcribe",
                                           "btn.summarize",
                                           "btn.copylast",
                                           "btn.quit",
                                           "status.ready",
                                           "status.transcribing",
                                           "status.cleaning",
                                           "status.pasted",
                                           "status.copied.noax",
                                           "status.done.copied",
                                           "status.summarizing",
                                           "status.summary.done",
                                           "status.summary.copied",
                                           "status.copied.again",
                                           "status.nothing.summarize",
                                           "status.nothing.copy",
                                           "status.model.needed",
                                           "status.model.downloading",
                                           "status.model.done",
                                           "status.mic.denied",
                                           "status.recording.hint",
                                           "live.status.active",
                                           "live.status.muted",
                                           "live.status.stopped",
                                           "live.status.preparing",
                                           "menu.edit",
                                           "menu.undo",
                                           "menu.redo",
                                           "menu.cut",
                                           "menu.copy",
                                           "menu.paste",
                                           "menu.selectall",
                                           "menu.hide",
                                           "menu.quit"};
    ASSERT_EQ(keys.size(), 66u);
    for (const auto& key : keys) {
        std::vector<std::string> texts;
        for (AppLanguage language : AppLanguage::allCases()) {
            L10n::setCurrent(language);
            texts.push_back(L10n::t(key));
            EXPECT_NE(texts.back(), key) << key << " in " << language.rawValue();
            EXPECT_FALSE(texts.back().empty()) << key;
        }
        if (key == "hotkey.keys") {
            EXPECT_TRUE(texts[0] == texts[1] && texts[1] == texts[2]);
        }
    }
}

TEST_F(L10nTest, TextsAreExact) {
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10n::t("model.large-v3-turbo"), "Default");
    EXPECT_EQ(L10n::t("model.base"), "Basic (faster)");
    EXPECT_EQ(L10n::t("window.title"), "Quenda — Transcription");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(L10n::t("live.start"), "▶ Iniciar tradução ao vivo");
    EXPECT_EQ(L10n::t("status.summary.done"), "Resumo pronto ✓ (copiado)");
    EXPECT_EQ(L10n::t("model.downloading"), "Baixando modelo… %d%%");
    L10n::setCurrent(AppLanguage::es);
    EXPECT_EQ(L10n::t("menu.selectall"), "Seleccionar Todo");
    EXPECT_EQ(L10n::t("live.status.muted"),
              "Traducción en vivo activa — audio original silenciado");
    // Linux wording of the shortcut, the same in every language.
    EXPECT_EQ(L10n::t("hotkey.keys"), "(Ctrl + Alt + D)");
}

TEST_F(L10nTest, NumbersInTheTwoFormatTexts) {
    L10n::setCurrent(AppLanguage::en);
    EXPECT_EQ(L10nFormat::modelDownloading(0.42), "Downloading model… 42%");
    EXPECT_EQ(L10nFormat::modelMissing(1600),
              "This model hasn't been downloaded yet (1600 MB, one time only).");
    L10n::setCurrent(AppLanguage::pt);
    EXPECT_EQ(L10nFormat::modelDownloading(0.999), "Baixando modelo… 99%");  // truncated
    EXPECT_EQ(L10nFormat::modelMissing(148),
              "Este modelo ainda não foi baixado (148 MB, uma única vez).");

    // Anything a caller might hand over stays within 0 to 100 and never crashes.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(L10nFormat::percentOf(0.0), 0);
    EXPECT_EQ(L10nFormat::percentOf(1.0), 100);
    EXPECT_EQ(L10nFormat::percentOf(-0.5), 0);
    EXPECT_EQ(L10nFormat::percentOf(7.0), 100);
    EXPECT_EQ(L10nFormat::percentOf(nan), 0);
    EXPECT_EQ(L10nFormat::percentOf(inf), 100);
    EXPECT_EQ(L10nFormat::percentOf(-inf), 0);
    EXPECT_EQ(L10nFormat::modelMissing(std::numeric_limits<long long>::min()),
              "Este modelo ainda não foi baixado (-9223372036854775808 MB, uma única vez).");
}

TEST(L10nFormatTest, OnlyIntegerAndPercentPlaceholdersAreFilled) {
    EXPECT_EQ(L10nFormat::withInteger("%d%%", 5), "5%");
    EXPECT_EQ(L10nFormat::withInteger("%d and %d", -3), "-3 and -3");
    EXPECT_EQ(L10nFormat::withInteger("%s %n %x %", 1), "%s %n %x %");
    EXPECT_EQ(L10nFormat::withInteger("100%%%d", 1), "100%1");
    EXPECT_EQ(L10nFormat::withInteger("", 1), "");
    EXPECT_EQ(L10nFormat::withInteger("no placeholder", 1), "no placeholder");
}

}  // namespace
}  // namespace quenda
