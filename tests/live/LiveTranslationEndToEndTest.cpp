// A smoke test of live translation as the application wires it, on the test desktop's real
// sound server (PulseAudio or PipeWire): the speech engine driving the fake whisper-server, the
// fake Ollama (echoing each transcript as its "translation"), the per-application capture with
// muting, and espeak-ng speaking the line through our own playback stream. Another process,
// espeak-ng itself, speaks English.
//
// The rest is pinned where it is cheaper: chunking, ordering, statuses and stopping by
// LiveTranslatorTest; capturing, muting and restoring other applications, and leaving our own
// playback alone, by the audio tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "FakeServers.h"
#include "audio/ProcessTapCapturePulse.h"
#include "engine/TranscriptionEngine.h"
#include "l10n/L10n.h"
#include "live/LiveServicesDefault.h"
#include "live/LiveTranslator.h"
#include "llm/Prompts.h"

namespace quenda::live {
namespace {

using namespace quenda::test;

constexpr const char* kCaptureSink = audio::ProcessTapCapturePulse::kSinkName;
// About eighteen seconds of English: it still plays when the first line has been spoken.
const std::string kEnglish =
    "Good morning everyone. Today we talk about rivers and the cities that grew beside them, "
    "and why water shaped the first roads. Good morning everyone. Today we talk about rivers "
    "and the cities that grew beside them, and why water shaped the first roads.";
const std::string kFirst = "The first sentence of the lecture.";

TEST(LiveTranslationEndToEnd, TranslatesSpeaksAndMutesTheOtherApplicationWhileRunning) {
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test desktop's sound server (run through scripts/test)";
    TempDir dir;
    ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    ScopedEnv record("FAKE_WHISPER_RECORD", (dir / "whisper.jsonl").string());
    writeFakeModel(dir / "models" / "ggml-base.bin", {"text_1 " + kFirst});
    FakeOllamaServer ollama(dir / "ollama", nlohmann::json{{"echo", true}});
    ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    auto engine = std::make_shared<TranscriptionEngine>(settings);
    const std::shared_ptr<void> stopServer(nullptr, [&](void*) { engine->stopServer(); });

    LiveTranslator translator(defaultLiveServices(engine));  // stops when it goes
    std::mutex mutex;
    std::vector<std::string> events;  // "text:<line>", "status:<text>"
    auto add = [&](const std::string& entry) {
        std::lock_guard lock(mutex);
        events.push_back(entry);
    };
    auto seen = [&] {
        std::lock_guard lock(mutex);
        return events;
    };
    translator.onText = [&](const std::string& line) { add("text:" + line); };
    translator.onStatus = [&](const std::string& text) { add("status:" + text); };

    translator.start("en", "base", true, true);
    ASSERT_TRUE(waitUntil([&] { return seen().size() >= 2; }, 30s));  // muted (checked below)

    // The English leaves the real output as soon as it plays.
    auto english = launchChild("/usr/bin/espeak-ng", {"-v", "en-us", kEnglish});
    ASSERT_TRUE(waitUntil([&] { return sinkOfProcess(english->pid()) == kCaptureSink; }, 5s));
    EXPECT_LT(peak(MonitorListener::listen()), 0.002) << "the English is heard on the output";
    EXPECT_EQ(modulesNaming("module-loopback"), std::vector<std::string>{}) << "it plays on";

    // Its first six seconds come back as a line, spoken on the real output.
    ASSERT_TRUE(waitUntil([&] { return seen().size() >= 3; }, 20s));
    MonitorListener ear;  // a quarter second louder than 0.01 rms within five seconds
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto heard = ear.heard();
            return heard.size() >= kRate / 4 && rms(heard, heard.size() - kRate / 4) > 0.01;
        },
        5s))
        << "the translation is not heard";
    translator.stop();
    EXPECT_THAT(seen(),
                ::testing::ElementsAre("status:" + L10n::t("live.status.preparing"),
                                       "status:" + L10n::t("live.status.muted"), "text:" + kFirst));

    const auto inference = readRecord(dir / "whisper.jsonl", "path", "/inference");
    ASSERT_FALSE(inference.empty());
    EXPECT_EQ(inference[0]["fields"]["language"], "en");
    // The line is the transcript echoed back: the prompt was the transcript.
    const auto generations = ollama.requests("/api/generate");
    ASSERT_GE(generations.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(generations[0]["body"].get<std::string>())["system"],
              std::string(Prompts::translation));
}

}  // namespace
}  // namespace quenda::live
