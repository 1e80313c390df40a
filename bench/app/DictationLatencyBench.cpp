// How long Quenda itself takes between the release of the push-to-talk key and the paste
// keystroke, against a stand-in speech server that answers at once. Each dictation of 5 s is
// timed whole, and beside it the engine's bare request with the same audio (what the server's
// answer costs); Quenda's share is the difference. Run twice: recordings sent as they are, and
// recordings passed through the ffmpeg conversion that chosen files get.
//
//   dictation-latency-bench [dictations=50]
// Run it in a private network (scripts/lib/private-network) so port 8642 is free.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/AppState.h"
#include "app/BenchDevices.h"
#include "fixtures/FakeServers.h"
#include "fixtures/TestAudio.h"
#include "platform/InMemoryDefaults.h"

namespace {

namespace fs = std::filesystem;
using quenda::bench::Clock;
using quenda::bench::NoHotkey;
using quenda::bench::percentile;
using quenda::bench::PreparedRecorder;
using quenda::bench::TimedKeystrokes;
using namespace quenda;

struct Figures {
    std::vector<double> total, server, own;
};

Figures run(int dictations, bool convert, const fs::path& speech, const fs::path& directory) {
    ManualMainQueue queue;
    auto keystrokes = std::make_unique<TimedKeystrokes>();
    auto* timed = keystrokes.get();
    auto recorder = std::make_unique<PreparedRecorder>();
    recorder->source = speech;
    recorder->directory = directory;
    ServerSettings server;
    server.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    auto engine = std::make_shared<TranscriptionEngine>(server);
    auto services =
        quenda::bench::dictationServices(queue, engine, std::move(recorder), std::move(keystrokes));
    auto state = AppState::create(std::move(services));
    state->setModelID("base");
    const std::string wav = test::readFile(speech);
    engine->transcribeWavData(wav, "base", "pt");  // the server is warm before timing

    Figures figures;
    for (int i = 0; i < dictations; ++i) {
        const int pastes = timed->pastes;
        Clock::time_point released;
        if (convert) {
            // A chosen file's road: the converter, then the same request and the paste.
            fs::copy_file(speech, directory / "chosen.wav", fs::copy_options::overwrite_existing);
            released = Clock::now();
            state->runPipeline(directory / "chosen.wav", true);
        } else {
            state->beginPushToTalk();
            released = Clock::now();
            state->endPushToTalk();
        }
        queue.runUntil([&] { return timed->pastes > pastes; }, std::chrono::seconds(30));
        figures.total.push_back(
            std::chrono::duration<double, std::milli>(timed->pastedAt - released).count());
        queue.runUntil([&] { return !state->isBusy(); }, std::chrono::seconds(30));
        const auto asked = Clock::now();
        engine->transcribeWavData(wav, "base", "pt");
        figures.server.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        figures.own.push_back(figures.total.back() - figures.server.back());
    }
    return figures;
}

void print(const char* name, const Figures& figures) {
    std::printf(
        "%-34s total p50 %7.2f ms  p95 %7.2f | server's answer p50 %6.2f ms | "
        "Quenda's own share p50 %7.2f ms  p95 %7.2f ms\n",
        name, percentile(figures.total, 0.5), percentile(figures.total, 0.95),
        percentile(figures.server, 0.5), percentile(figures.own, 0.5),
        percentile(figures.own, 0.95));
}

}  // namespace

int main(int argc, char** argv) {
    const int dictations = argc > 1 ? std::atoi(argv[1]) : 50;
    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    test::ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    test::ScopedEnv tmp("TMPDIR", dir.path().string());
    installStandardDefaults(std::make_shared<InMemoryDefaults>());
    test::writeFakeModel(dir / "models/ggml-base.bin", {"text Um texto ditado."});
    // Five seconds of speech-like sound at the recorder's own format.
    test::makeSpeech(dir / "speech-22k.wav",
                     "Bom dia a todos. Hoje vamos ditar um texto curto em português do Brasil.");
    test::runTool("/usr/bin/sox",
                  {(dir / "speech-22k.wav").string(), "-r", "16000", "-c", "1", "-b", "16",
                   (dir / "speech.wav").string(), "pad", "0", "5", "trim", "0", "5"});
    std::printf("%d dictations of %.2f s, release of the key to the paste keystroke\n", dictations,
                test::wavSeconds(dir / "speech.wav"));
    print("recording sent as it is", run(dictations, false, dir / "speech.wav", dir.path()));
    print("recording through the converter", run(dictations, true, dir / "speech.wav", dir.path()));
    installStandardDefaults(nullptr);
}
