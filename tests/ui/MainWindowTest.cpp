// The window over a state with substitute devices, on Qt's offscreen platform: what is shown,
// what is enabled, the language switch, drops, and screenshots in the three languages under
// build/<preset>/screenshots/ for anyone to look at.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QUrl>

#include "app/AppTestHarness.h"
#include "l10n/L10nFormat.h"
#include "support/QtTestSupport.h"
#include "ui/DropZone.h"
#include "ui/MainWindow.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test, public test::AppHarness {
  protected:
    // A new window over a new state (with `onBase`, on the installed base model).
    void open(bool onBase = false) {
        window_.reset();
        onBase ? makeStateOnBase() : makeState();
        window_ = std::make_unique<ui::MainWindow>(*state_, *pasteboard_);
        window_->show();
        settle();
    }
    // Runs the state's posted work and the window's redraws.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            queue_.drain();
            QCoreApplication::processEvents();
        }
    }
    // What a screen reader calls a widget: its accessible name, or else a button's text.
    static QString spoken(QWidget* widget) {
        auto* asButton = qobject_cast<QAbstractButton*>(widget);
        return asButton && widget->accessibleName().isEmpty() ? asButton->text()
                                                              : widget->accessibleName();
    }
    // The widget called by the text of `key`.
    template <class Widget = QAbstractButton>
    Widget* find(std::string_view key) {
        for (auto* widget : window_->findChildren<Widget*>())
            if (spoken(widget) == QString::fromStdString(L10n::t(key)))
                return widget;
        return nullptr;
    }
    bool shown(QWidget* widget) { return widget->isVisibleTo(window_.get()); }
    // Transcribe, Summarise and Copy: "1" for each one enabled, "0" for each one not.
    std::string actionsEnabled() {
        std::string flags;
        for (const char* key : {"btn.transcribe", "btn.summarize", "btn.copylast"})
            flags += find(key)->isEnabled() ? '1' : '0';
        return flags;
    }
    // Every text a user can see now: labels, buttons, picker entries, the title.
    QStringList visibleTexts() {
        QStringList texts{window_->windowTitle()};
        for (auto* widget : window_->findChildren<QWidget*>())  // labels and buttons
            if (shown(widget) && widget->property("text").isValid())
                texts << widget->property("text").toString();
        for (auto* combo : window_->findChildren<QComboBox*>())
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        return texts;
    }
    // Every control the keyboard reaches tells a screen reader what it is.
    void expectEveryControlNamed() {
        for (auto* widget : window_->findChildren<QWidget*>()) {
            if ((widget->focusPolicy() & Qt::TabFocus) && shown(widget)) {
                EXPECT_FALSE(spoken(widget).trimmed().isEmpty())
                    << widget->metaObject()->className();
            }
        }
    }
    void screenshot(const std::string& name) {
        settle();
        fs::create_directories(QUENDA_SCREENSHOT_DIR);
        const auto file = fs::path(QUENDA_SCREENSHOT_DIR) / (name + ".png");
        EXPECT_TRUE(window_->grab().save(QString::fromStdString(file.string())));
    }

    test::ScopedQtApplication<QApplication> application_;
    std::unique_ptr<ui::MainWindow> window_;
};

TEST_F(MainWindowTest, TheLanguageRelabelsEverythingAndWritesNoSettingBack) {
    open(/*onBase=*/true);
    defaults_->remove("modelID");
    defaults_->remove("cleanWithLLM");
    const QStringList portuguese = visibleTexts();

    auto* language = find<QComboBox>("app.language");
    ASSERT_TRUE(language);
    emit language->activated(1);  // English, as the user picks it
    settle();
    EXPECT_EQ(state_->uiLanguage(), AppLanguage::en);
    EXPECT_EQ(state_->modelID(), "base");
    EXPECT_FALSE(defaults_->text("modelID")) << "showing the state wrote the model back";
    EXPECT_FALSE(defaults_->boolean("cleanWithLLM"));
    const QStringList english = visibleTexts();
    for (const char* key :
         {"window.title", "model", "model.base", "drop.title", "clean.toggle", "hotkey.label",
          "live.title", "live.start", "last.title", "btn.transcribe", "btn.quit", "status.ready"}) {
        L10n::setCurrent(AppLanguage::pt);
        const auto before = QString::fromStdString(L10n::t(key));
        L10n::setCurrent(AppLanguage::en);
        EXPECT_TRUE(english.contains(QString::fromStdString(L10n::t(key)))) << key;
        EXPECT_TRUE(portuguese.contains(before)) << key;
        EXPECT_FALSE(english.contains(before)) << key;
    }
}

TEST_F(MainWindowTest, OnlyTheFirstDroppedFileIsTranscribed) {
    open(/*onBase=*/true);
    dir_.installModel("ggml-base.bin", {"text Do arquivo solto"});
    test::makeTone(dir_ / "um.wav", 0.3, 16000, 1);
    QList<QUrl> files;  // only the first is audio
    for (const char* name : {"um.wav", "dois.txt", "tres.wav"})
        files << QUrl::fromLocalFile(QString::fromStdString((dir_ / name).string()));
    auto* zone = window_->findChild<ui::DropZone*>();
    EXPECT_FALSE(zone->takeDrop({}));
    EXPECT_TRUE(zone->takeDrop(files));
    joinJobs();
    ASSERT_TRUE(runUntil([&] { return !state_->isBusy(); }));
    EXPECT_EQ(state_->lastTranscription(), "Do arquivo solto");
    EXPECT_EQ(inferenceRequests(), 1u);
    EXPECT_EQ(devices_.pastes, 0) << "a dropped file is copied, not pasted";
}

// The "start at login" item writes and removes the login entry, and its mark shows whether
// the entry exists when the menu opens.
TEST_F(MainWindowTest, StartAtLoginWritesAndRemovesTheLoginEntry) {
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir_ / "config").string());
    const auto entry = dir_ / "config/autostart/app.quenda.Quenda.desktop";
    open();
    QAction* item = nullptr;
    for (auto* action : window_->findChildren<QAction*>())
        if (action->text() == QString::fromStdString(L10n::t("menu.autostart")))
            item = action;
    ASSERT_TRUE(item && item->isCheckable());
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_NE(test::readFile(entry).find(" --start-hidden\n"), std::string::npos);
    item->trigger();
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(fs::exists(entry));
    test::writeFile(entry, "[Desktop Entry]\n");
    emit qobject_cast<QMenu*>(item->parent())->aboutToShow();
    EXPECT_TRUE(item->isChecked());
}

// Each state of the window in every language: a screenshot of it, and what it shows and enables.
TEST_F(MainWindowTest, EveryStateInEveryLanguage) {
    for (const auto& language : AppLanguage::allCases()) {
        const std::string suffix(language.rawValue());
        SCOPED_TRACE(suffix);
        L10n::setCurrent(language);
        open();
        screenshot("model-missing-" + suffix);
        expectEveryControlNamed();
        // The first language starts with no last text, the others with the one dictated before.
        const bool first = language == AppLanguage::allCases().front();
        const QString dictated = "Bom dia, este é um texto ditado.";
        auto* lastBox = find<QPlainTextEdit>("last.title");
        ASSERT_TRUE(lastBox);
        EXPECT_EQ(lastBox->toPlainText(), first ? "—" : dictated);
        EXPECT_EQ(actionsEnabled(), first ? "100" : "111");
        EXPECT_TRUE(shown(find("model.download")));
        const auto model = *TranscriptionEngine::modelInfo(state_->modelID());
        EXPECT_TRUE(visibleTexts().contains(
            QString::fromStdString(L10nFormat::modelMissing(model.sizeMB))));
        stallDownloads_ = true;
        state_->downloadCurrentModel();
        ASSERT_TRUE(runUntil([&] { return state_->downloader().progress() > 0.2; }));
        screenshot("downloading-" + suffix);
        state_->cancelDownload();
        stallDownloads_ = false;
        ASSERT_TRUE(runUntil([&] { return !state_->downloader().isDownloading(); }));

        dir_.installModel("ggml-base.bin", {"text " + dictated.toStdString()});
        state_->setModelID("base");
        press();
        screenshot("recording-" + suffix);
        release();
        settle();
        EXPECT_FALSE(shown(find("model.download")));
        EXPECT_EQ(actionsEnabled(), first ? "000" : "001") << "a job is running: nothing can start";
        joinJobs();
        ASSERT_TRUE(runUntil([&] { return !state_->isBusy(); }));
        screenshot("idle-" + suffix);
        EXPECT_EQ(lastBox->toPlainText(), dictated);
        EXPECT_EQ(actionsEnabled(), "111");
        EXPECT_FALSE(shown(find("summary.copyall"))) << "no summary yet";

        // Live translation running: its choices and the model are fixed; lines stay after a stop.
        find("live.start")->click();
        settle();
        for (auto* choice :
             {find<QWidget>("live.source"), find<QWidget>("model"), find<QWidget>("live.speak")})
            EXPECT_FALSE(choice->isEnabled());
        for (const char* line : {"Bem-vindos à aula de hoje.", "Vamos falar de redes neurais.",
                                 "A primeira parte trata de dados."})
            devices_.translator->onText(line);
        screenshot("live-" + suffix);
        find("live.stop")->click();
        settle();
        EXPECT_TRUE(shown(window_->findChild<QListWidget*>()));
        EXPECT_EQ(window_->findChild<QListWidget*>()->count(), 3);
        EXPECT_TRUE(find("live.speak")->isEnabled());
        fs::remove(dir_ / "models/ggml-base.bin");

        devices_.hotkeyInstalls = false;  // another program holds the combination
        open();
        screenshot("shortcut-taken-" + suffix);
        EXPECT_TRUE(visibleTexts().contains(QString::fromStdString(L10n::t("hotkey.taken"))));
        devices_.hotkeyInstalls = true;
    }
}

}  // namespace
}  // namespace quenda
