// The live translator against stand-in services. Every call the stand-ins get and every report
// the translator makes goes, in order, into one log of "kind:details" entries.

#include "live/LiveTranslator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <semaphore>

#include "live/GraphemeCount.h"
#include "support/TestSupport.h"

using namespace quenda::live;
using quenda::test::waitUntil;
using ::testing::ElementsAre;
using namespace std::string_literals;

namespace {

constexpr std::size_t kChunk = LiveTranslator::chunkSamples;
const std::string kHint = ". Verifique se o PulseAudio ou o PipeWire está rodando.";

std::string status(const std::string& key) {
    return "status:«live.status." + key + "»";
}

// Holds callers, once closed (before use), until the test lets them through.
struct Gate {
    void pass() {
        ++arrived;
        if (closed)
            permits.acquire();
    }
    void let(int count = 1 << 20) { permits.release(count); }
    std::atomic<int> arrived{0};
    bool closed = false;
    std::counting_semaphore<1 << 30> permits{0};
};

int16_t sampleAt(std::string_view wav, std::size_t at) {
    int16_t value;
    std::memcpy(&value, wav.data() + at, sizeof value);
    return value;
}

// The stand-in servers, the log, how the stand-ins are to answer, and the capture sources
// that exist.
struct World : SpeechEngine, TranslationModel {
    void add(const std::string& entry) {
        std::lock_guard lock(mutex);
        log.push_back(entry);
    }
    std::vector<std::string> only(std::initializer_list<std::string> kinds) {
        std::lock_guard lock(mutex);
        std::vector<std::string> found;
        std::ranges::copy_if(log, std::back_inserter(found), [&](const std::string& entry) {
            return std::ranges::any_of(kinds,
                                       [&](auto& kind) { return entry.starts_with(kind + ":"); });
        });
        return found;
    }
    bool waitFor(const std::string& kind, std::size_t count) {
        return waitUntil([&] { return only({kind}).size() >= count; });
    }
    // Delivers as a source's delivery thread would.
    void deliver(const std::string& name, std::vector<float> samples) {
        std::lock_guard lock(sourcesMutex);
        sources.at(name)->onSamples(std::move(samples));
    }

    // One whole chunk of each level to the monitor.
    void chunks(std::initializer_list<float> levels) {
        for (float level : levels)
            deliver("monitor", std::vector(kChunk, level));
    }

    void ensureServer(const std::string& model) override {
        ensureGate.pass();
        add("ensure:" + model);
        std::lock_guard lock(mutex);
        if (ensureFailure)
            throw std::runtime_error(*ensureFailure);
    }
    // Logs the language, model, size and first and last samples of each WAV file.
    std::string transcribe(std::string_view wav, const std::string& model,
                           const std::string& language) override {
        const auto first = std::to_string(sampleAt(wav, 44));
        add("wav:" + language + " " + model + " " + std::to_string(wav.size()) + " " + first + " " +
            std::to_string(sampleAt(wav, wav.size() - 2)));
        transcribeGate.pass();
        std::lock_guard lock(mutex);
        std::string text = "chunk " + first;
        if (!transcripts.empty()) {
            text = transcripts.front();
            transcripts.pop_front();
        }
        if (text.starts_with("throw:"))
            throw std::runtime_error(text.substr(6));
        return text;
    }
    bool isAvailable() override { return available; }
    std::string translate(const std::string& text, std::chrono::seconds asked) override {
        add("prompt:" + text);
        std::lock_guard lock(mutex);
        timeout = asked;
        return text == "vazio" ? "" : "pt: " + text;
    }

    std::mutex mutex;  // guards the fields up to sourcesMutex
    std::vector<std::string> log;
    std::deque<std::string> transcripts;  // given in order, then "chunk <first sample>"
    std::optional<std::string> ensureFailure, monitorFailure, tapFailure;
    std::chrono::seconds timeout{0};
    std::atomic<bool> available{true};
    Gate ensureGate, transcribeGate, monitorGate, tapGate;
    std::mutex sourcesMutex;
    std::map<std::string, CaptureSource*> sources;
};

struct Source : CaptureSource {
    Source(std::shared_ptr<World> world, std::string sourceName, std::string how = "")
        : w(std::move(world)), name(std::move(sourceName)), muting(std::move(how)) {
        std::lock_guard lock(w->sourcesMutex);
        w->sources[name] = this;
    }
    ~Source() override {
        std::lock_guard lock(w->sourcesMutex);
        w->sources.erase(name);
    }
    void start() override {
        const bool tap = name != "monitor";
        (tap ? w->tapGate : w->monitorGate).pass();
        if (std::lock_guard lock(w->mutex); (tap ? w->tapFailure : w->monitorFailure))
            throw std::runtime_error(*(tap ? w->tapFailure : w->monitorFailure));
        w->add("source:" + name + " up" + muting);
    }
    void stop() override { w->add("source:" + name + " stop"); }
    std::shared_ptr<World> w;
    std::string name, muting;
};

struct Voice : SpeechSynthesizer {
    explicit Voice(std::shared_ptr<World> world) : w(std::move(world)) {}
    void speak(std::string text) override { w->add("speak:" + text); }
    void stopSpeaking() override { w->add("hush:"); }
    std::shared_ptr<World> w;
};

class LiveTranslatorTest : public ::testing::Test {
  protected:
    // Builds the translator; with `withTap` the per-application capture is offered first.
    void make(bool withTap = false) {
        LiveServices services{w,
                              w,
                              std::make_unique<Source>(w, "monitor"),
                              nullptr,
                              std::make_unique<Voice>(w),
                              [](std::string_view key) { return "«" + std::string(key) + "»"; }};
        if (withTap) {
            services.makeTapCapture = [w = w, taps = 0](bool mute) mutable {
                return std::make_unique<Source>(w, "tap" + std::to_string(taps++),
                                                mute ? " muted" : " audible");
            };
        }
        translator = std::make_unique<LiveTranslator>(std::move(services));
        translator->onText = [w = w](const std::string& line) { w->add("text:" + line); };
        translator->onStatus = [w = w](const std::string& text) { w->add("status:" + text); };
        translator->onStop = [w = w](const std::optional<std::string>& reason) {
            w->add("stop:" + reason.value_or("-"));
        };
    }

    void startAndWait(const std::string& language = "en", bool speak = true, bool mute = false,
                      const std::string& model = "base") {
        translator->start(language, model, speak, mute);
        ASSERT_TRUE(waitUntil([&] {
            const auto statuses = w->only({"status"});
            return !statuses.empty() &&
                   (statuses.back() == status("active") || statuses.back() == status("muted"));
        }));
    }

    std::shared_ptr<World> w = std::make_shared<World>();
    std::unique_ptr<LiveTranslator> translator;
};

TEST_F(LiveTranslatorTest, CutsSixSecondChunksAndSkipsThoseNotLouderThanTheGate) {
    make();
    startAndWait();
    w->deliver("monitor", std::vector(kChunk - 1, 0.1f));  // 95 999: not yet a chunk
    w->deliver("monitor", std::vector(1, 0.2f));           // the 96 000th sample completes it
    ASSERT_TRUE(w->waitFor("text", 1));                    // (at most 3 chunks may be outstanding)
    // 200 000 samples at once: two chunks, the second under the gate, and 8 000 kept.
    auto samples = std::vector(kChunk, 0.3f);
    samples.resize(2 * kChunk, 0.003f);
    samples.resize(200000, 0.5f);
    w->deliver("monitor", samples);
    ASSERT_TRUE(w->waitFor("text", 2));
    w->deliver("monitor", std::vector(kChunk - 8000, 0.5f));  // with the 8 000 kept: one more
    ASSERT_TRUE(w->waitFor("text", 3));
    w->chunks({0.004f, -0.005f});  // exactly the threshold: still silence
    ASSERT_TRUE(w->waitFor("text", 4));
    translator.reset();

    // 0.1 × 32 767 = 3 276 (the single 0.2 sample, 6 553, ends the first chunk); −0.005 gives
    // −163, truncated toward zero.
    EXPECT_THAT(w->only({"wav"}),
                ElementsAre("wav:en base 192044 3276 6553", "wav:en base 192044 9830 9830",
                            "wav:en base 192044 16383 16383", "wav:en base 192044 -163 -163"));
    // Lines come out in chunk order, the model's answers unchanged, and are spoken.
    EXPECT_THAT(w->only({"text", "speak"}),
                ElementsAre("text:pt: chunk 3276", "speak:pt: chunk 3276", "text:pt: chunk 9830",
                            "speak:pt: chunk 9830", "text:pt: chunk 16383", "speak:pt: chunk 16383",
                            "text:pt: chunk -163", "speak:pt: chunk -163"));
    EXPECT_EQ(w->timeout, std::chrono::seconds(60));
}

TEST_F(LiveTranslatorTest, CleansTranscriptsAndSkipsThoseOfOneCharacter) {
    make();
    // A failed transcription is reported and the run goes on; an empty translation ("vazio"
    // translates to nothing) is not reported.
    w->transcripts = {"[MUSIC] a ♪", "e\u0301",  // one character as a reader sees it
                      "[MUSIC] [Música] ok ♪", "throw:sem servidor", "vazio"};
    startAndWait();
    for (std::size_t i = 0; i < 5; ++i) {
        w->chunks({0.1f});
        ASSERT_TRUE(w->waitFor("wav", i + 1));
    }
    ASSERT_TRUE(w->waitFor("prompt", 2));
    translator.reset();
    EXPECT_THAT(w->only({"prompt", "text", "speak", "status"}),
                ElementsAre(status("preparing"), status("active"), "prompt:ok", "text:pt: ok",
                            "speak:pt: ok", "status:Aviso: sem servidor", "prompt:vazio"));
}

TEST_F(LiveTranslatorTest, ReportsMutingOnlyWithThePerApplicationCaptureAndWarnsInOrder) {
    make(true);
    startAndWait("en", true, true);
    w->deliver("tap0", std::vector(kChunk, 0.1f));
    ASSERT_TRUE(w->waitFor("text", 1));
    translator->stop();
    // (An audible capture that starts is shown with a stopped start-up, below.) When it fails the
    // monitor takes over; the failure is mentioned only if muting was asked.
    w->tapFailure = "criar o tap de áudio falhou (-50)";
    startAndWait("en", true, true, "large-v3-turbo");
    translator->stop();
    startAndWait("en", true, false);
    translator->stop();
    translator.reset();

    EXPECT_THAT(w->only({"ensure"}),
                ElementsAre("ensure:base", "ensure:large-v3-turbo", "ensure:base"));
    EXPECT_THAT(
        w->only({"status", "text", "hush", "stop"}),
        ElementsAre(status("preparing"), status("muted"), "text:pt: chunk 3276", "hush:", "stop:-",
                    status("preparing"),
                    "status:Aviso: não deu para silenciar a fonte (criar o tap de áudio falhou "
                    "(-50)); seguindo com o áudio original audível.",
                    status("active"), "hush:", "stop:-", status("preparing"), status("active"),
                    "hush:", "stop:-"));
    // The monitor is not started beside a working tap; what a failed start set up is released.
    EXPECT_THAT(w->only({"source"}),
                ElementsAre("source:tap0 up muted", "source:tap0 stop", "source:tap1 stop",
                            "source:monitor up", "source:monitor stop", "source:tap2 stop",
                            "source:monitor up", "source:monitor stop",
                            "source:monitor stop"));  // and at the end
}

TEST_F(LiveTranslatorTest, StopsWithTheFixedTextsAndCallsOnStopOnceForEachStart) {
    make();
    translator->stop();  // idle: nothing happens
    w->available = false;
    translator->start("en", "base", true, false);
    w->available = true;
    w->ensureFailure = "Servidor whisper não encontrado";
    translator->start("en", "base", true, false);
    ASSERT_TRUE(w->waitFor("stop", 2));
    w->ensureFailure.reset();
    w->monitorFailure = "Nenhuma saída de áudio disponível";
    translator->start("en", "base", true, false);
    ASSERT_TRUE(w->waitFor("stop", 3));
    w->monitorFailure.reset();

    startAndWait("en");
    translator->start("es", "large-v3-turbo", false, true);  // ignored: arguments not taken
    w->chunks({0.1f});
    ASSERT_TRUE(w->waitFor("text", 1));
    translator->stop();
    translator->stop(std::string("again"));
    startAndWait("en");
    {
        std::lock_guard lock(w->sourcesMutex);
        w->sources.at("monitor")->onError("o servidor de som interrompeu a captura");
    }
    ASSERT_TRUE(w->waitFor("stop", 5));
    translator->stop();
    w->chunks({0.3f});  // a stopped run takes no samples
    translator.reset();

    EXPECT_THAT(w->only({"wav"}), ElementsAre("wav:en base 192044 3276 3276"));
    EXPECT_THAT(
        w->only({"status", "text", "speak", "stop"}),
        ElementsAre(
            "stop:Ollama não está rodando — a tradução precisa dele. Inicie com: ollama serve",
            status("preparing"),
            "stop:Não foi possível iniciar: Servidor whisper não encontrado" + kHint,
            status("preparing"),
            "stop:Não foi possível iniciar: Nenhuma saída de áudio disponível" + kHint,
            status("preparing"), status("active"), "text:pt: chunk 3276", "speak:pt: chunk 3276",
            "stop:-", status("preparing"), status("active"),
            "stop:Captura interrompida: o servidor de som interrompeu a captura"));
}

// With muting asked, a capture left running after the stop would keep the other applications
// silent with translation switched off. A quick restart runs after the stopped start-up.
TEST_F(LiveTranslatorTest, AStopDuringStartUpLeavesNoCaptureRunning) {
    // The step held, and what the captures do (the translator's end stops the monitor again).
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"server", {"source:monitor up", "source:monitor stop", "source:monitor stop"}},
        {"monitor",
         {"source:monitor up", "source:monitor stop", "source:monitor up", "source:monitor stop",
          "source:monitor stop"}},
        {"tap",
         {"source:tap0 up muted", "source:tap0 stop", "source:tap1 up audible", "source:tap1 stop",
          "source:monitor stop"}}};
    for (const auto& [step, sources] : cases) {
        SCOPED_TRACE(step);
        w = std::make_shared<World>();
        Gate& gate = step == "server" ? w->ensureGate : step == "tap" ? w->tapGate : w->monitorGate;
        gate.closed = true;
        make(step == "tap");
        translator->start("en", "base", true, true);
        ASSERT_TRUE(waitUntil([&] { return gate.arrived == 1; }));
        translator->stop();
        gate.let();
        startAndWait("es");
        translator.reset();
        EXPECT_THAT(
            w->only({"status", "stop"}),
            ElementsAre(status("preparing"), "stop:-", status("preparing"), status("active")));
        EXPECT_EQ(w->only({"source"}), sources);
    }
}

// Chunks queued when a run stops neither run nor take the next run's places; the one under way
// finishes unreported. At most three chunks are outstanding; when one ends, there is room for
// exactly one more.
TEST_F(LiveTranslatorTest, KeepsAtMostThreeChunksOutstandingAndDropsAStoppedRunsQueue) {
    w->transcribeGate.closed = true;
    make();
    startAndWait("en");
    w->chunks({0.1f, 0.2f, 0.3f});
    ASSERT_TRUE(waitUntil([&] { return w->transcribeGate.arrived == 1; }));
    translator->stop();
    startAndWait("es", false);
    w->chunks({0.4f, 0.5f, 0.6f, 0.7f});
    w->transcribeGate.let(2);  // the old run's chunk, then the new run's first
    ASSERT_TRUE(waitUntil([&] { return w->transcribeGate.arrived == 3; }));
    w->chunks({0.8f, 0.9f});
    w->transcribeGate.let();
    ASSERT_TRUE(w->waitFor("text", 4));
    translator.reset();  // waits for the queue: nothing else was transcribed
    EXPECT_THAT(w->only({"wav"}),
                ElementsAre("wav:en base 192044 3276 3276", "wav:es base 192044 13106 13106",
                            "wav:es base 192044 16383 16383", "wav:es base 192044 19660 19660",
                            "wav:es base 192044 26213 26213"));
    EXPECT_THAT(w->only({"text", "speak"}),  // speaking was not asked
                ElementsAre("text:pt: chunk 13106", "text:pt: chunk 16383", "text:pt: chunk 19660",
                            "text:pt: chunk 26213"));
}

// The pieces a chunk goes through: its WAV encoding, the cleaning of its transcript, and the
// length of its line.
TEST(WavData, WritesTheCanonicalHeaderAndConvertsSamplesTowardZero) {
    EXPECT_EQ(LiveTranslator::wavData(std::vector<float>{1.5f, -1.5f, 0.25f}, 16000),
              "RIFF\x2A\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3E\0\0\0\x7D\0\0\x02\0\x10\0"
              "data\x06\0\0\0\xFF\x7F\x01\x80\xFF\x1F"s);
    // 1.0 → 32 767, −1.0 → −32 767 (never −32 768), 0.5 → 16 383, NaN → 32 767.
    EXPECT_EQ(LiveTranslator::wavData(
                  std::vector{1.0f, -1.0f, 0.5f, std::nanf(""), -HUGE_VALF, -0.00002f}, 16000)
                  .substr(44),
              "\xFF\x7F\x01\x80\xFF\x3F\xFF\x7F\x01\x80\0\0"s);
    EXPECT_EQ(LiveTranslator::wavData({}, 16000).size(), 44u);
}

TEST(StripArtifacts, RemovesEachMarkerExactlyAndTrimsOnlyTheEnds) {
    EXPECT_EQ(LiveTranslator::stripArtifacts(" [BLANK_AUDIO]  [BLANK_AUDIO] "), "");
    EXPECT_EQ(LiveTranslator::stripArtifacts("♪ Hello ♪"), "Hello");
    EXPECT_EQ(LiveTranslator::stripArtifacts("[music] ok"), "[music] ok");  // case-sensitive
    EXPECT_EQ(LiveTranslator::stripArtifacts("before [MUSIC] after"), "before  after");
    EXPECT_EQ(LiveTranslator::stripArtifacts("(música)\n[música] fim\r\n"), "fim");
    EXPECT_EQ(LiveTranslator::stripArtifacts("\u00A0texto\u3000"), "texto");
    // One pass per marker, in the listed order: a marker that appears only once an earlier
    // one is gone stays.
    EXPECT_EQ(LiveTranslator::stripArtifacts("[MUS[MUSIC]IC]"), "[MUSIC]");
    EXPECT_EQ(LiveTranslator::stripArtifacts("[MUS♪IC] x"), "[MUSIC] x");
}

TEST(GraphemeCount, CountsWhatAReaderSeesAsOneCharacter) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("ok"), 2u);
    EXPECT_EQ(graphemeCount("é"), 1u);         // precomposed
    EXPECT_EQ(graphemeCount("e\u0301"), 1u);   // with a combining accent
    EXPECT_EQ(graphemeCount("👍🏽"), 1u);  // with a skin-tone modifier
    EXPECT_EQ(graphemeCount("🇧🇷"), 1u);        // a flag
    EXPECT_EQ(graphemeCount("🇧🇷🇵🇹"), 2u);
    EXPECT_EQ(graphemeCount("👩\u200D💻"), 1u);  // joined by a zero-width joiner
    EXPECT_EQ(graphemeCount("\r\n"), 1u);
    EXPECT_EQ(graphemeCount("\xFF\xFE"), 2u);  // bytes that are not UTF-8
    EXPECT_EQ(graphemeCount("uma frase longa", 2), 2u);
}

}  // namespace
