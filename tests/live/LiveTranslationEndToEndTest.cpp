// Live translation on the test desktop's real PulseAudio daemon, with the real services: the
// speech engine driving the fake whisper-server, the fake Ollama (echoing each transcript as
// its "translation"), the per-application capture with muting, and espeak-ng speaking the
// lines through our own playback stream. Another process, espeak-ng itself, speaks English.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FakeServers.h"
#include "engine/TranscriptionEngine.h"
#include "l10n/L10n.h"
#include "live/LiveServicesDefault.h"
#include "live/LiveTranslator.h"
#include "llm/Prompts.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::live {
namespace {

using namespace std::chrono_literals;
using quenda::test::waitUntil;

// About nine seconds of English: within the first two six-second chunks, so the third chunk
// holds nothing but our own spoken translation.
const std::string kEnglish =
    "Good morning everyone. Today we talk about rivers and the cities that grew beside them, "
    "and why water shaped the first roads.";
// The transcripts the fake server gives the first two chunks; later ones are empty.
const std::string kFirst = "The first sentence of the lecture.";
const std::string kSecond = "And here is the second one.";

// The rms, from 0 (silent) to 1, of what the real output (the default sink's monitor) plays
// while it is recorded for a few seconds (the first samples can take two seconds to come; a
// sink that nobody plays to delivers next to nothing, which counts as silence).
double outputLoudness() {
    const auto recording = quenda::test::runProgram(
        "/usr/bin/timeout", {"3", "/usr/bin/parec", "--device=DefaultSink.monitor",
                             "--format=float32le", "--rate=16000", "--channels=1", "--raw"});
    std::vector<float> samples(recording.out.size() / sizeof(float));
    std::memcpy(samples.data(), recording.out.data(), samples.size() * sizeof(float));
    double sum = 0;
    for (float sample : samples)
        sum += double(sample) * sample;
    return samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size()));
}

TEST(LiveTranslationEndToEnd, TranslatesSpeaksAndMutesTheOtherApplicationWhileRunning) {
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test desktop's PulseAudio (run through scripts/test)";
    quenda::test::TempDir dir;
    quenda::test::ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    quenda::test::ScopedEnv record("FAKE_WHISPER_RECORD", (dir / "whisper.jsonl").string());
    quenda::test::writeFakeModel(dir / "models" / "ggml-base.bin",
                                 {"text_1 " + kFirst, "text_2 " + kSecond});
    quenda::test::FakeOllamaServer ollama(dir / "ollama", nlohmann::json{{"echo", true}});
    ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    auto engine = std::make_shared<TranscriptionEngine>(settings);
    struct StopServer {
        std::shared_ptr<TranscriptionEngine> engine;
        ~StopServer() { engine->stopServer(); }
    } stopServer{engine};

    LiveTranslator translator(defaultLiveServices(engine));
    std::mutex mutex;
    std::vector<std::string> events;  // "text:<line>", "status:<text>", "stop:<reason or ->"
    auto add = [&](const std::string& entry) {
        std::lock_guard lock(mutex);
        events.push_back(entry);
    };
    auto seen = [&] {
        std::lock_guard lock(mutex);
        return events;
    };
    auto count = [&](const std::string& kind) {
        const auto all = seen();
        return std::count_if(all.begin(), all.end(),
                             [&](const auto& e) { return e.starts_with(kind); });
    };
    translator.onText = [&](const std::string& line) { add("text:" + line); };
    translator.onStatus = [&](const std::string& text) { add("status:" + text); };
    translator.onStop = [&](const std::optional<std::string>& reason) {
        add("stop:" + reason.value_or("-"));
    };

    translator.start("en", "base", true, true);
    ASSERT_TRUE(waitUntil([&] { return count("status:") == 2 || count("stop:") > 0; }, 30s));
    ASSERT_EQ(count("stop:"), 0) << seen().back();
    const auto started = std::chrono::steady_clock::now();

    auto english = Process::launch("/usr/bin/espeak-ng", {"-v", "en-us", kEnglish});
    std::this_thread::sleep_for(1s);
    EXPECT_LT(outputLoudness(), 0.002) << "the English speech is heard on the real output";

    ASSERT_TRUE(waitUntil([&] { return count("text:") >= 1; }, 20s));
    // Our Portuguese speech plays on the real output while the English stays muted.
    EXPECT_GT(outputLoudness(), 0.01) << "the translation is not heard";
    ASSERT_TRUE(waitUntil([&] { return count("text:") >= 2; }, 20s));
    EXPECT_EQ(english->waitForExit(10s), 0);

    // Let a chunk pass that holds nothing but our own speech of the second line: it must not
    // come back to the translator (a third, audible chunk would reach the server).
    std::this_thread::sleep_until(started + 20s);
    std::vector<nlohmann::json> requests;
    for (const auto& entry : quenda::test::readRecord(dir / "whisper.jsonl")) {
        if (entry.value("path", "") == "/inference")
            requests.push_back(entry);
    }
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request["parts"][2]["value"], "en");
        EXPECT_DOUBLE_EQ(request["wav"]["seconds"].get<double>(), 6.0);
    }
    EXPECT_THAT(seen(), ::testing::ElementsAre("status:" + L10n::t("live.status.preparing"),
                                               "status:" + L10n::t("live.status.muted"),
                                               "text:" + kFirst, "text:" + kSecond));
    const auto generations = ollama.requests("/api/generate");
    ASSERT_EQ(generations.size(), 2u);
    const auto body = nlohmann::json::parse(generations[0]["body"].get<std::string>());
    EXPECT_EQ(body["system"], std::string(Prompts::translation));
    EXPECT_EQ(body["prompt"], kFirst);

    // An application that starts playing while translation runs is muted too, and heard again
    // once translation stops.
    auto later = Process::launch("/usr/bin/espeak-ng", {"-v", "en-us", kEnglish + " " + kEnglish});
    std::this_thread::sleep_for(1s);
    EXPECT_LT(outputLoudness(), 0.002) << "a later application is heard on the real output";
    translator.stop();
    EXPECT_EQ(count("stop:"), 1);
    EXPECT_EQ(seen().back(), "stop:-");
    std::this_thread::sleep_for(500ms);
    EXPECT_GT(outputLoudness(), 0.01) << "the other application stays silent after the stop";
    later->kill();
}

}  // namespace
}  // namespace quenda::live
