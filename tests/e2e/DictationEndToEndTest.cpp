// One whole dictation on the test desktop, as a user makes it: Ctrl+Alt+D held through XTest,
// Portuguese speech played into the default sink (which the default source hears), the real
// PulseAudio recorder, the stand-in speech server, and the text pasted into another
// application's focused field.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <thread>

#include "TestWindowProcess.h"
#include "app/AppState.h"
#include "fixtures/FakeServers.h"
#include "fixtures/TestAudio.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "l10n/L10n.h"
#include "live/LiveServicesDefault.h"
#include "llm/OllamaClient.h"
#include "platform/InMemoryDefaults.h"
#include "platform_qt/MainQueueQt.h"
#include "platform_qt/PasteboardQt.h"
#include "support/QtTestSupport.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits while serving this process's events: the main queue runs there, and the clipboard is
// handed to other applications from there.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return condition();
}

void xdotool(const std::vector<std::string>& arguments) {
    const auto result = test::runProgram("/usr/bin/xdotool", arguments);
    ASSERT_EQ(result.status, 0) << result.err;
}

TEST(DictationEndToEnd, SpeechHeldUnderTheHotkeyLandsInTheFocusedApplication) {
    test::ScopedQtApplication<QGuiApplication> application;

    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    test::ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    test::ScopedEnv record("FAKE_WHISPER_RECORD", (dir / "whisper.jsonl").string());
    installStandardDefaults(std::make_shared<InMemoryDefaults>());
    const std::string spoken = "Olá, ação e coração.";
    test::writeFakeModel(dir / "models/ggml-base.bin", {"text " + spoken});
    test::makeSpeech(dir / "fala.wav", "Bom dia. Hoje vamos ditar um texto em português.");

    MainQueueQt queue;
    auto pasteboard = std::make_shared<PasteboardQt>();
    AppServices services;
    services.mainQueue = &queue;
    ServerSettings server;
    server.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    services.engine = std::make_shared<TranscriptionEngine>(server);
    services.recorder = audio::Recorder::create();
    services.hotkeyBackend = HotkeyManager::Backend::createForPlatform();
    services.pasteboard = pasteboard;
    services.keystrokes = std::make_unique<KeystrokeSynthesizerXTest>();
    services.downloader = std::make_unique<ModelDownloader>(queue);
    services.makeLiveTranslator = [](std::shared_ptr<TranscriptionEngine> engine) {
        return std::make_unique<live::LiveTranslator>(live::defaultLiveServices(std::move(engine)));
    };
    services.generate = OllamaClient::generate;
    services.runJob = detachedThreadJobRunner();
    test::TestWindowProcess window;
    auto state = AppState::create(std::move(services));
    ASSERT_TRUE(state->accessibilityOK());
    ASSERT_TRUE(state->setModelID("base"));

    xdotool({"keydown", "ctrl+alt+d"});
    const bool recording = pumpUntil([&] { return state->isRecording(); });
    if (recording) {
        auto player = Process::launch("/usr/bin/paplay", {(dir / "fala.wav").string()});
        pumpUntil([&] { return !player->isRunning(); });
        player->waitForExit();
    }
    xdotool({"keyup", "ctrl+alt+d"});
    ASSERT_TRUE(recording) << state->status();

    ASSERT_TRUE(pumpUntil([&] { return window.text() == spoken; })) << state->status();
    EXPECT_EQ(state->status(), L10n::t("status.pasted"));
    EXPECT_FALSE(state->isBusy());
    EXPECT_EQ(state->lastTranscription(), spoken);
    EXPECT_EQ(test::readFile(dir / "data/Quenda/ultima_transcricao.txt"), spoken);
    EXPECT_EQ(pasteboard->string(), spoken);

    // What the server heard: our recording as it was made, as long as the speech at least
    // (it was loud enough to pass the silence gate, or nothing would have been sent).
    const auto requests = test::readRecord(dir / "whisper.jsonl", "path", "/inference");
    ASSERT_EQ(requests.size(), 1u);
    const double heard = requests[0]["wav"].value("seconds", 0.0);
    EXPECT_GT(heard, test::wavSeconds(dir / "fala.wav") - 0.5);
    EXPECT_LT(heard, 30.0);
    installStandardDefaults(nullptr);
}

}  // namespace
}  // namespace quenda
