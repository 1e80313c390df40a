#include "live/LiveTranslator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LiveFakes.h"

using namespace quenda::live;
using namespace quenda::live::test;
using quenda::test::waitUntil;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr std::size_t kChunk = LiveTranslator::chunkSamples;

std::string key(std::string_view name) {
    return "«" + std::string(name) + "»";
}

const std::string kStartHint = ". Verifique se o PulseAudio ou o PipeWire está rodando.";

class LiveTranslatorTest : public ::testing::Test {
  protected:
    // Builds the translator; with `withTap` the per-application capture is offered first.
    void make(bool withTap = false) {
        LiveServices services;
        services.engine = engine;
        services.model = model;
        services.monitorCapture = std::make_unique<FakeSource>(monitor);
        if (withTap) {
            services.makeTapCapture = [this](bool mute) {
                auto log = std::make_shared<SourceLog>();
                log->mutedAsked = mute;
                log->startFailure = tapFailure;
                log->startGate = tapGate;
                std::lock_guard lock(tapsMutex);
                taps.push_back(log);
                return std::make_unique<FakeSource>(log);
            };
        }
        services.synthesizer = std::make_unique<FakeSynthesizer>(synth);
        services.statusText = [](std::string_view name) { return key(name); };
        translator = std::make_unique<LiveTranslator>(std::move(services));
        reports.attach(translator->onText, translator->onStatus, translator->onStop);
    }

    void startAndWait(const std::string& language = "en", bool speak = true, bool mute = false) {
        translator->start(language, "base", speak, mute);
        ASSERT_TRUE(waitUntil([&] {
            const auto last = reports.get(reports.statuses);
            return !last.empty() && (last.back() == key("live.status.active") ||
                                     last.back() == key("live.status.muted"));
        }));
    }

    std::shared_ptr<SourceLog> tap(std::size_t index) {
        std::lock_guard lock(tapsMutex);
        return index < taps.size() ? taps[index] : nullptr;
    }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::shared_ptr<FakeModel> model = std::make_shared<FakeModel>();
    std::shared_ptr<SourceLog> monitor = std::make_shared<SourceLog>();
    std::optional<std::string> tapFailure;
    std::shared_ptr<Gate> tapGate = std::make_shared<Gate>();
    std::mutex tapsMutex;
    std::vector<std::shared_ptr<SourceLog>> taps;
    std::shared_ptr<SpeechLog> synth = std::make_shared<SpeechLog>();
    Reports reports;
    std::unique_ptr<LiveTranslator> translator;
};

TEST_F(LiveTranslatorTest, CutsWholeSixSecondChunksAndKeepsTheRestForLater) {
    make();
    startAndWait();
    monitor->deliver(constant(kChunk - 1, 0.1f));  // 95 999: not yet a chunk
    monitor->deliver(constant(1, 0.2f));           // the 96 000th sample completes it
    ASSERT_TRUE(reports.waitForTexts(1));          // (at most 3 chunks may be outstanding)
    // One delivery of 200 000 samples: two chunks, 8 000 samples left over.
    auto large = constant(kChunk, 0.3f);
    auto second = constant(kChunk, 0.4f);
    large.insert(large.end(), second.begin(), second.end());
    large.resize(200000, 0.5f);
    monitor->deliver(large);
    ASSERT_TRUE(reports.waitForTexts(3));
    monitor->deliver(constant(kChunk - 8000, 0.5f));  // with the 8 000 kept: one more

    ASSERT_TRUE(reports.waitForTexts(4));
    const auto calls = engine->callsSoFar();
    ASSERT_EQ(calls.size(), 4u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.wav.size(), 192044u);
        EXPECT_EQ(call.language, "en");
        EXPECT_EQ(call.modelID, "base");
    }
    EXPECT_EQ(firstSample(calls[0].wav), 3276);  // 0.1 × 32 767
    EXPECT_EQ(lastSample(calls[0].wav), 6553);   // the single 0.2 sample ends the first chunk
    EXPECT_EQ(firstSample(calls[1].wav), 9830);
    EXPECT_EQ(lastSample(calls[1].wav), 9830);
    EXPECT_EQ(firstSample(calls[2].wav), 13106);
    EXPECT_EQ(lastSample(calls[2].wav), 13106);
    EXPECT_EQ(firstSample(calls[3].wav), 16383);  // the 8 000 kept samples come first
    EXPECT_EQ(lastSample(calls[3].wav), 16383);
    // Lines come out in chunk order, the model's answers unchanged, and are spoken.
    EXPECT_THAT(reports.get(reports.texts), ElementsAre("pt: chunk 3276", "pt: chunk 9830",
                                                        "pt: chunk 13106", "pt: chunk 16383"));
    EXPECT_THAT(synth->spokenSoFar(), ElementsAre("pt: chunk 3276", "pt: chunk 9830",
                                                  "pt: chunk 13106", "pt: chunk 16383"));
    EXPECT_EQ(model->timeouts.front(), std::chrono::seconds(60));
}

TEST_F(LiveTranslatorTest, SkipsChunksThatAreNotLouderThanTheGate) {
    make();
    startAndWait("en", false);
    monitor->deliver(constant(kChunk, 0.003f));
    monitor->deliver(constant(kChunk, 0.004f));  // exactly the threshold: still silence
    monitor->deliver(constant(kChunk, -0.005f));
    ASSERT_TRUE(reports.waitForTexts(1));
    monitor->deliver(constant(kChunk, 0.3f));  // marks the end

    ASSERT_TRUE(reports.waitForTexts(2));
    const auto calls = engine->callsSoFar();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(firstSample(calls[0].wav), -163);  // −0.005 × 32 767, truncated
    EXPECT_EQ(firstSample(calls[1].wav), 9830);
    EXPECT_THAT(synth->spokenSoFar(), IsEmpty());  // speaking was not asked
}

TEST_F(LiveTranslatorTest, KeepsAtMostThreeChunksOutstandingAndRecoversWhenOneEnds) {
    make();
    engine->transcribeGate.close();
    startAndWait();
    for (float value : {0.1f, 0.2f, 0.3f, 0.4f, 0.5f})
        monitor->deliver(constant(kChunk, value));
    // The first is being transcribed, two wait; the fourth and fifth were dropped.
    ASSERT_TRUE(waitUntil([&] { return engine->transcribeGate.arrived() == 1; }));
    engine->transcribeGate.letOneThrough();
    ASSERT_TRUE(waitUntil([&] { return engine->transcribeGate.arrived() == 2; }));
    // One finished: room for exactly one more.
    monitor->deliver(constant(kChunk, 0.6f));
    monitor->deliver(constant(kChunk, 0.7f));
    engine->transcribeGate.open();

    ASSERT_TRUE(reports.waitForTexts(4));
    EXPECT_THAT(reports.get(reports.texts), ElementsAre("pt: chunk 3276", "pt: chunk 6553",
                                                        "pt: chunk 9830", "pt: chunk 19660"));
    translator.reset();  // waits for the queue: nothing else was transcribed
    EXPECT_EQ(engine->callsSoFar().size(), 4u);
}

TEST_F(LiveTranslatorTest, CleansTranscriptsAndSkipsThoseOfOneCharacter) {
    make();
    engine->answers = {"[MUSIC] a ♪",        "e\u0301",  // one character as a reader sees it
                       "  [BLANK_AUDIO]\n",  "[MUSIC] [Música] ok ♪",
                       "throw:sem servidor", "fine"};
    startAndWait();
    for (std::size_t i = 0; i < 4; ++i) {
        monitor->deliver(constant(kChunk, 0.1f));
        ASSERT_TRUE(waitUntil([&] { return engine->callsSoFar().size() == i + 1; }));
    }
    ASSERT_TRUE(reports.waitForTexts(1));
    {
        std::lock_guard lock(model->mutex);
        model->answer = "";  // an empty translation is not reported
    }
    monitor->deliver(constant(kChunk, 0.1f));
    ASSERT_TRUE(reports.waitForStatus("Aviso: sem servidor"));  // and the run goes on
    monitor->deliver(constant(kChunk, 0.1f));
    ASSERT_TRUE(waitUntil([&] { return model->promptsSoFar().size() == 2; }));
    translator.reset();
    EXPECT_THAT(model->promptsSoFar(), ElementsAre("ok", "fine"));
    EXPECT_THAT(reports.get(reports.texts), ElementsAre("pt: ok"));
    EXPECT_THAT(synth->spokenSoFar(), ElementsAre("pt: ok"));
}

TEST_F(LiveTranslatorTest, ReportsTheStartUpAndPerChunkTextsInOrder) {
    make();
    translator->start("en", "large-v3-turbo", true, true);  // mute asked, no tap here
    ASSERT_TRUE(reports.waitForStatus(key("live.status.active")));
    EXPECT_THAT(engine->ensured, ElementsAre("large-v3-turbo"));
    {
        std::lock_guard lock(model->mutex);
        model->failure = "Resposta inválida do Ollama: sem dados";
    }
    monitor->deliver(constant(kChunk, 0.2f));
    ASSERT_TRUE(reports.waitForStatus("Aviso: Resposta inválida do Ollama: sem dados"));
    translator->stop();
    EXPECT_THAT(reports.get(reports.all),
                ElementsAre(key("live.status.preparing"), key("live.status.active"),
                            "Aviso: Resposta inválida do Ollama: sem dados", "stop:-"));
    EXPECT_TRUE(waitUntil([&] { return !monitor->running; }));
    EXPECT_EQ(synth->stops, 1);
}

TEST_F(LiveTranslatorTest, PrefersThePerApplicationCaptureAndReportsMutingOnlyWithIt) {
    make(true);
    startAndWait("en", true, true);
    EXPECT_EQ(tap(0)->mutedAsked, true);
    EXPECT_EQ(monitor->starts, 0);  // the monitor is not started beside it
    tap(0)->deliver(constant(kChunk, 0.1f));
    ASSERT_TRUE(reports.waitForTexts(1));
    translator->stop();
    ASSERT_TRUE(waitUntil([&] { return tap(0)->stops == 1 && !tap(0)->running; }));
    startAndWait("en", true, false);  // a fresh capture, not muting
    EXPECT_EQ(tap(1)->mutedAsked, false);
    translator->stop();

    // When it fails the monitor takes over; the failure is mentioned only if muting was asked.
    tapFailure = "criar o tap de áudio falhou (-50)";
    startAndWait("en", true, true);
    EXPECT_EQ(tap(2)->stops, 1);  // what the failed start set up is released
    EXPECT_TRUE(monitor->running);
    translator->stop();
    startAndWait("en", true, false);
    EXPECT_THAT(reports.get(reports.statuses),
                ElementsAre(key("live.status.preparing"), key("live.status.muted"),
                            key("live.status.preparing"), key("live.status.active"),
                            key("live.status.preparing"),
                            "Aviso: não deu para silenciar a fonte (criar o tap de áudio falhou "
                            "(-50)); seguindo com o áudio original audível.",
                            key("live.status.active"), key("live.status.preparing"),
                            key("live.status.active")));
}

TEST_F(LiveTranslatorTest, StopsWithTheFixedTextsWhenItCannotStartOrLosesTheCapture) {
    make();
    model->available = false;
    translator->start("en", "base", true, false);
    EXPECT_THAT(reports.get(reports.stops),
                ElementsAre("Ollama não está rodando — a tradução precisa dele. Inicie com: "
                            "ollama serve"));
    EXPECT_THAT(reports.get(reports.statuses), IsEmpty());
    model->available = true;

    engine->ensureFailure = "Servidor whisper não encontrado";
    translator->start("en", "base", true, false);
    ASSERT_TRUE(reports.waitForStops(2));
    EXPECT_EQ(reports.get(reports.stops)[1],
              "Não foi possível iniciar: Servidor whisper não encontrado" + kStartHint);
    engine->ensureFailure.reset();

    monitor->startFailure = "Nenhuma saída de áudio disponível";
    translator->start("en", "base", true, false);
    ASSERT_TRUE(reports.waitForStops(3));
    EXPECT_EQ(reports.get(reports.stops)[2],
              "Não foi possível iniciar: Nenhuma saída de áudio disponível" + kStartHint);
    monitor->startFailure.reset();

    startAndWait();
    monitor->fail("o servidor de som interrompeu a captura");
    ASSERT_TRUE(reports.waitForStops(4));
    EXPECT_EQ(reports.get(reports.stops)[3],
              "Captura interrompida: o servidor de som interrompeu a captura");
    EXPECT_TRUE(waitUntil([&] { return !monitor->running; }));
    monitor->deliver(constant(kChunk, 0.3f));  // a stopped run takes no samples
    translator.reset();
    EXPECT_THAT(engine->callsSoFar(), IsEmpty());
    EXPECT_EQ(reports.get(reports.stops).size(), 4u);
}

TEST_F(LiveTranslatorTest, CallsOnStopOnceForEachStartAndIgnoresAStartWhileRunning) {
    make();
    translator->stop();  // idle: nothing happens
    EXPECT_THAT(reports.get(reports.all), IsEmpty());

    startAndWait("en");
    translator->start("es", "large-v3-turbo", false, true);  // ignored, arguments not taken
    monitor->deliver(constant(kChunk, 0.1f));
    ASSERT_TRUE(reports.waitForTexts(1));
    EXPECT_EQ(engine->callsSoFar()[0].language, "en");
    EXPECT_THAT(synth->spokenSoFar(), ElementsAre("pt: chunk 3276"));
    translator->stop();
    translator->stop(std::string("again"));
    EXPECT_THAT(reports.get(reports.stops), ElementsAre(std::nullopt));
    EXPECT_EQ(monitor->starts, 1);
}

TEST_F(LiveTranslatorTest, AStopWhileTheServerStartsLeavesNoCaptureBehind) {
    engine->ensureGate.close();
    make();
    translator->start("en", "base", true, true);
    ASSERT_TRUE(waitUntil([&] { return engine->ensureGate.arrived() == 1; }));
    translator->stop();
    engine->ensureGate.open();
    // A quick restart: its start-up runs after the stopped run's has given up.
    startAndWait("es");
    EXPECT_EQ(monitor->starts, 1);
    EXPECT_THAT(reports.get(reports.all),
                ElementsAre(key("live.status.preparing"), "stop:-", key("live.status.preparing"),
                            key("live.status.active")));
}

TEST_F(LiveTranslatorTest, AStopWhileACaptureStartsShutsItDownOnceItIsUp) {
    for (bool withTap : {false, true}) {
        SCOPED_TRACE(withTap ? "per-application capture" : "monitor capture");
        engine = std::make_shared<FakeEngine>();
        monitor = std::make_shared<SourceLog>();
        auto gate = std::make_shared<Gate>(false);
        (withTap ? tapGate : monitor->startGate) = gate;
        reports.all.clear();
        taps.clear();
        make(withTap);
        translator->start("en", "base", true, true);
        ASSERT_TRUE(waitUntil([&] { return gate->arrived() == 1; }));
        translator->stop();
        gate->open();
        auto source = withTap ? tap(0) : monitor;
        // With muting asked, a capture left running would keep the other applications silent.
        ASSERT_TRUE(waitUntil([&] { return source->stops >= 1; }));
        EXPECT_FALSE(source->running);
        EXPECT_EQ(monitor->starts, withTap ? 0 : 1);
        translator.reset();
        EXPECT_THAT(reports.get(reports.all), ElementsAre(key("live.status.preparing"), "stop:-"));
        tapGate = std::make_shared<Gate>();
    }
}

TEST_F(LiveTranslatorTest, ChunksQueuedBeforeAStopNeitherRunNorCountInTheNextRun) {
    engine->transcribeGate.close();
    make();
    startAndWait("en");
    for (float value : {0.1f, 0.2f, 0.3f})
        monitor->deliver(constant(kChunk, value));
    ASSERT_TRUE(waitUntil([&] { return engine->transcribeGate.arrived() == 1; }));
    translator->stop();
    startAndWait("es");
    // The old run's two queued chunks must not take the new run's places.
    for (float value : {0.4f, 0.5f, 0.6f, 0.7f})
        monitor->deliver(constant(kChunk, value));
    engine->transcribeGate.open();

    ASSERT_TRUE(reports.waitForTexts(3));
    translator.reset();
    const auto calls = engine->callsSoFar();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(firstSample(calls[0].wav), 3276);  // under way at the stop: finished, unreported
    EXPECT_EQ(calls[0].language, "en");
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(calls[i].language, "es");
    EXPECT_THAT(reports.get(reports.texts),
                ElementsAre("pt: chunk 13106", "pt: chunk 16383", "pt: chunk 19660"));
    EXPECT_THAT(synth->spokenSoFar(),
                ElementsAre("pt: chunk 13106", "pt: chunk 16383", "pt: chunk 19660"));
}

}  // namespace
