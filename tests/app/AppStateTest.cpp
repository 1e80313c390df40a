// The application state driven as the window and the hotkey drive it: substitutes for the
// microphone, the keyboard and the language model, the real engine against the stand-in
// speech server, the real downloader against a local HTTP server, and a main queue drained by
// hand.

#include "AppTestHarness.h"
#include "app/LastTranscriptionFile.h"
#include "app/SubtitleCredits.h"
#include "llm/Prompts.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;

class AppStateTest : public ::testing::Test, public test::AppHarness {};
const std::string kOffline = OllamaError::offline().what();

TEST_F(AppStateTest, AFirstStartHasTheDefaultsAndLaterStartsLoadWhatWasStored) {
    auto* state = makeState();
    const auto loaded = [&] {
        return std::tuple(state->modelID(), state->modelInstalled(), state->cleanWithLLM(),
                          state->fastMode(), state->accessibilityOK(), state->lastTranscription());
    };
    EXPECT_EQ(loaded(), std::tuple("large-v3-turbo", false, false, false, true, ""));
    EXPECT_EQ(state->status(), "Pronto");
    EXPECT_TRUE(fs::exists(dir_.lastText()));
    EXPECT_FALSE(defaults_->text("modelID"));  // loading writes nothing back

    defaults_->setText("modelID", "base");
    defaults_->setText("cleanWithLLM", "sim");  // not a boolean: counts as absent
    defaults_->setBoolean("fastMode", true);
    dir_.installModel("ggml-base.bin");
    test::writeFile(dir_.lastText(), "texto salvo");
    devices_.hotkeyInstalls = false;
    state = makeState();
    EXPECT_EQ(loaded(), std::tuple("base", true, false, true, false, "texto salvo"));
    EXPECT_EQ(defaults_->text("cleanWithLLM"), "sim");
    EXPECT_TRUE(state->hotkeyTaken());

    // A saved file that is not UTF-8 is set aside, not overwritten.
    test::writeFile(dir_.lastText(), "\xff\xfe bytes");
    state = makeState();
    EXPECT_EQ(state->lastTranscription(), "");
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir_ / "data/Quenda"))
        if (entry.path().filename().string().starts_with("ultima_transcricao.txt.ilegivel-"))
            kept.push_back(test::readFile(entry.path()));
    EXPECT_EQ(kept, std::vector<std::string>{"\xff\xfe bytes"});
}

TEST_F(AppStateTest, ChoicesAreStoredAndTheLanguageResetsTheStatus) {
    auto* state = makeState();
    devices_.grab(false);  // a layout change took the combination away
    queue_.drain();
    EXPECT_FALSE(state->accessibilityOK());
    EXPECT_TRUE(state->hotkeyTaken());
    devices_.grab(true);
    queue_.drain();
    EXPECT_TRUE(state->accessibilityOK());

    EXPECT_TRUE(state->setModelID("inexistente"));
    EXPECT_FALSE(state->modelInstalled());
    EXPECT_EQ(defaults_->text("modelID"), "inexistente");

    state->setCleanWithLLM(false);  // the same value is still written
    EXPECT_EQ(defaults_->boolean("cleanWithLLM"), false);
    state->setFastMode(true);
    EXPECT_EQ(defaults_->boolean("fastMode"), true);

    state->copyLast();
    state->setUiLanguage(AppLanguage::es);
    EXPECT_EQ(state->status(), "Listo");  // (the window relabels itself: see its tests)
}

TEST_F(AppStateTest, EveryDictationEndsWithItsStatusesInOrder) {
    struct Case {
        const char* name;
        std::string model;                  // the speech server's answer
        std::vector<std::string> statuses;  // after recording and transcribing
        std::string text;  // the saved and copied text afterwards ("antes": untouched)
        std::function<std::string(const std::string&)> cleanup = {};  // set: clean-up is on
        bool trusted = true;
        double amplitude = 0.3;  // 0.002: silence, never sent
    };
    const auto cleaned = [](const std::string& text) { return "Limpo: " + text; };
    const auto empty = [](const std::string&) { return std::string(); };
    const auto offline = [](const std::string&) -> std::string { throw OllamaError::offline(); };
    const std::string failure = R"({"error":"failed to process audio"})";
    const std::vector<std::string> cleaning = {"status.cleaning", "status.pasted"};
    const std::vector<std::string> nothing = {"status.nothing.heard"};
    const Case cases[] = {
        {"pasted", "text  Olá mundo.", {"status.pasted"}, "Olá mundo."},
        {"cleaned", "text Olá", cleaning, "Limpo: Olá", cleaned},
        {"clean-up answers nothing: the raw text", "text Olá", cleaning, "Olá", empty},
        {"clean-up offline: the raw text",
         "text Olá",
         {"status.cleaning", "Limpeza indisponível: " + kOffline, "status.pasted"},
         "Olá",
         offline},
        {"no keystrokes: copied only", "text Olá", {"status.copied.noax"}, "Olá", {}, false},
        {"transcription fails: nothing touched",
         "inference_body " + failure,
         {"Erro: Falha na transcrição: " + failure},
         "antes"},
        {"silence is not sent", "text Obrigado.", nothing, "antes", {}, true, 0.002},
        {"a subtitle credit is nothing heard", "text Legendas pela comunidade Amara.org", nothing,
         "antes"},
        {"an empty transcript is nothing heard", "text  ", nothing, "antes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir_.record());
        test::writeFile(dir_.lastText(), "antes");
        pasteboard_->setString("antes");
        languageModel_ = c.cleanup;
        devices_.keystrokesTrusted = c.trusted;
        devices_.amplitude = c.amplitude;
        auto* state = makeStateOnBase({c.model});
        EXPECT_EQ(state->accessibilityOK(), c.trusted) << "no keystrokes, no working shortcut";
        EXPECT_FALSE(state->hotkeyTaken());
        state->setCleanWithLLM(bool(c.cleanup));
        statuses_.clear();
        const int pastes = devices_.pastes;

        dictate();
        joinJobs();
        auto expected = texts({"status.recording.hint", "status.transcribing"});
        std::ranges::copy(texts(c.statuses), std::back_inserter(expected));
        EXPECT_EQ(statuses_, expected);
        EXPECT_EQ(state->lastTranscription(), c.text);
        EXPECT_EQ(savedText(), c.text);
        EXPECT_EQ(pasteboard_->string(), c.text);
        EXPECT_EQ(devices_.pastes - pastes, c.text != "antes" && c.trusted ? 1 : 0);
        EXPECT_EQ(inferenceRequests(), c.amplitude > 0.01 ? 1u : 0u);
        EXPECT_FALSE(state->isRecording());
        EXPECT_FALSE(fs::exists(devices_.recordings.back())) << "the recording is deleted";
    }
}

TEST_F(AppStateTest, ADictationReleasedDuringAnotherJobRunsAfterIt) {
    auto* state = makeStateOnBase({"text Do arquivo", "text_2 Do ditado"});
    state->setFastMode(true);
    press();
    ASSERT_TRUE(state->isRecording());
    test::makeTone(dir_ / "arquivo.wav", 0.5, 16000, 1);
    state->runPipeline(dir_ / "arquivo.wav", false);  // dropped on the window meanwhile
    release();

    // While busy: a press is ignored, and so is a summary.
    press();
    EXPECT_FALSE(state->isRecording());
    release();
    state->summarizeLast();  // nothing saved yet
    EXPECT_EQ(state->status(), L10n::t("status.nothing.summarize"));

    ASSERT_TRUE(
        runUntil([&] { return state->lastTranscription() == "Do ditado" && !state->isBusy(); }));
    EXPECT_EQ(state->status(), L10n::t("status.pasted"));
    EXPECT_EQ(devices_.pastes, 1);
    // Both went in fast mode: half a second is a window of 25 frames and the margin.
    EXPECT_EQ(dir_.audioWindows(), std::vector<std::string>(2, "153"));
}

TEST_F(AppStateTest, TheRecorderNeverLeavesTheHotkeyStuck) {
    auto* state = makeStateOnBase({"text Até aqui"});

    devices_.startFails = true;
    press();
    EXPECT_EQ(state->status(), "Erro no microfone: Microfone indisponível");
    EXPECT_FALSE(state->isRecording());
    release();

    devices_.startFails = false;
    devices_.stopGivesNothing = true;
    dictate();
    EXPECT_FALSE(state->isRecording());
    EXPECT_EQ(state->status(), L10n::t("status.nothing.heard"));

    // The microphone goes away mid-recording: the user is told, and what was recorded still
    // becomes text at the release.
    devices_.stopGivesNothing = false;
    press();
    devices_.recorder->onInterrupted("Gravação interrompida pelo servidor de som");
    queue_.drain();
    EXPECT_EQ(state->status(), "Erro no microfone: Gravação interrompida pelo servidor de som");
    EXPECT_TRUE(state->isRecording());
    release();
    ASSERT_TRUE(runUntil([&] { return !state->isBusy(); }));
    EXPECT_EQ(state->lastTranscription(), "Até aqui");
}

TEST_F(AppStateTest, AJobOutlivingTheStateEndsWithoutItOnTheMainThread) {
    makeStateOnBase({"text Tarde demais"});
    press();
    release();
    ASSERT_TRUE(state_->isBusy());
    state_.reset();  // the window went away while the job runs
    EXPECT_EQ(devices_.recorderDestroyedOn, std::this_thread::get_id());
    joinJobs();
    queue_.drain();
    EXPECT_EQ(savedText(), "") << "the job's text reached nothing";
    EXPECT_FALSE(fs::exists(devices_.recordings.back()));
}

TEST_F(AppStateTest, SummaryAndCopyWorkOnTheLastText) {
    test::writeFile(dir_.lastText(), "   ");
    auto* state = makeState();
    languageModel_ = [](const std::string& text) { return "- resumo de [" + text + "]"; };
    state->summarizeLast();  // spaces are content
    ASSERT_TRUE(runUntil([&] { return !state->isBusy(); }));
    EXPECT_EQ(state->summary(), "- resumo de [   ]");
    EXPECT_EQ(pasteboard_->string(), "- resumo de [   ]");
    EXPECT_EQ(statuses_, texts({"status.summarizing", "status.summary.done"}));
    EXPECT_EQ(prompts_.back().first, Prompts::summary);

    languageModel_ = nullptr;
    state->summarizeLast();
    ASSERT_TRUE(runUntil([&] { return !state->isBusy(); }));
    EXPECT_EQ(state->status(), "Erro no resumo: " + kOffline);
    EXPECT_EQ(state->summary(), "- resumo de [   ]");

    state->copyLast();
    EXPECT_EQ(pasteboard_->string(), "   ");
    EXPECT_EQ(state->status(), L10n::t("status.copied.again"));
}

TEST_F(AppStateTest, AChosenFileIsTranscribedAndCopiedWithoutPaste) {
    auto* state = makeStateOnBase({"text Do arquivo"});
    state->chooseAndTranscribeFile();  // cancelled: nothing (no status below)
    EXPECT_EQ(dialog_->offered, AppState::audioFileExtensions());

    test::makeTone(dir_ / "escolhido.wav", 0.5);  // 44.1 kHz stereo: converted
    dialog_->answer = dir_ / "escolhido.wav";
    state->chooseAndTranscribeFile();
    ASSERT_TRUE(runUntil([&] { return !state->isBusy(); }));
    EXPECT_EQ(statuses_, texts({"status.transcribing", "status.done.copied"}));
    EXPECT_EQ(pasteboard_->string(), "Do arquivo");
    EXPECT_EQ(devices_.pastes, 0);
    EXPECT_TRUE(fs::exists(dir_ / "escolhido.wav")) << "a chosen file is never touched";
}

TEST_F(AppStateTest, ADownloadReportsAndRechecksTheModelSelectedNow) {
    auto* state = makeState();
    ASSERT_TRUE(state->setModelID("base"));
    state->downloadCurrentModel();
    EXPECT_EQ(state->status(), L10n::t("status.model.downloading"));
    ASSERT_TRUE(runUntil([&] { return !state->downloader().isDownloading(); }));
    queue_.drain();
    EXPECT_EQ(state->status(), L10n::t("status.model.done"));
    EXPECT_TRUE(state->modelInstalled());

    stallDownloads_ = true;  // until it is cancelled
    ASSERT_TRUE(state->setModelID("large-v3-turbo"));
    state->downloadCurrentModel();
    ASSERT_TRUE(state->setModelID("base"));  // picked meanwhile
    state->cancelDownload();
    ASSERT_TRUE(runUntil([&] { return !state->downloader().isDownloading(); }));
    queue_.drain();
    EXPECT_TRUE(state->status().starts_with("Erro: ")) << state->status();
    EXPECT_TRUE(state->modelInstalled()) << "the model selected now is installed";
}

TEST_F(AppStateTest, LiveTranslationIsToggledAndOnlyTheCurrentRunReports) {
    auto* state = makeState();
    state->toggleLiveTranslation();
    EXPECT_EQ(state->status(), L10n::t("status.model.needed"));
    EXPECT_FALSE(state->liveActive());

    dir_.installModel("ggml-base.bin");
    state->setModelID("base");
    state->toggleLiveTranslation();
    ASSERT_TRUE(state->liveActive());
    EXPECT_FALSE(state->setModelID("large-v3-turbo")) << "the model is fixed while it runs";
    for (int line = 1; line <= 41; ++line)
        devices_.translator->onText("linha " + std::to_string(line));
    queue_.drain();
    ASSERT_EQ(state->liveText().size(), 40u);
    EXPECT_EQ(state->liveText().front(), "linha 2");
    EXPECT_EQ(state->liveText().back(), "linha 41");

    // The user stops and starts again before the first run's reports were handled.
    state->toggleLiveTranslation();
    EXPECT_EQ(state->status(), L10n::t("live.status.stopped"));
    devices_.translator->onText("velha");
    devices_.translator->onStop(std::string("motivo velho"));
    state->toggleLiveTranslation();
    queue_.drain();
    EXPECT_TRUE(state->liveActive());
    EXPECT_TRUE(state->liveText().empty());

    devices_.translator->onStop(std::string("Falha na captura"));
    queue_.drain();
    EXPECT_FALSE(state->liveActive());
    EXPECT_EQ(state->status(), "Falha na captura");
}

TEST(SubtitleCredits, OnlyACreditAloneCountsAsNothing) {
    for (const char* credit :
         {"Legendas pela comunidade Amara.org", " legendas pela comunidade do Amara.org.",
          "Subtítulos realizados por la comunidad de Amara.org",
          "Subtitles by the Amara.org community", "Amara.org"})
        EXPECT_TRUE(isOnlySubtitleCredit(credit)) << credit;
    for (const char* speech : {"Obrigado.", "", "Visite amara.org hoje",
                               "Legendas pela comunidade Amara.org. Bom dia a todos."})
        EXPECT_FALSE(isOnlySubtitleCredit(speech)) << speech;
}

// The last transcription's file on its own: an older version's text is taken over once, and
// writers never leave a mixed file.
TEST(LastTranscription, LegacyTextIsCopiedOnceAndNeverOverwritesTheNewFile) {
    test::SpeechHome home;
    home.apply();
    const auto legacy = home.data() / "Brevimo" / "ultima_transcricao.txt";
    test::writeFile(legacy, "texto antigo");
    EXPECT_EQ(LastTranscriptionFile::read(), "texto antigo");
    EXPECT_EQ(test::readFile(legacy), "texto antigo");
    test::writeFile(legacy, "mudou depois");
    LastTranscriptionFile::write("novo");
    EXPECT_EQ(LastTranscriptionFile::read(), "novo");
}

TEST(LastTranscription, ConcurrentWritersNeverLeaveAMixedFile) {
    test::SpeechHome home;
    home.apply();
    const std::string a(200000, 'a'), b(100000, 'b');
    {
        std::vector<std::jthread> writers;
        for (const std::string* text : {&a, &b}) {
            writers.emplace_back([text] {
                for (int i = 0; i < 30; ++i)
                    LastTranscriptionFile::write(*text);
            });
        }
        for (int i = 0; i < 60; ++i) {
            const auto text = LastTranscriptionFile::read();
            EXPECT_TRUE(!text || *text == a || *text == b) << "a reader saw a partial write";
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(home.data() / "Quenda"), {}), 1);
}

}  // namespace
}  // namespace quenda
