// Key release to paste keystroke for 5-second Portuguese dictations against the real
// whisper.cpp server (random-weights base model, warm), with the application state driven as
// the window drives it and substitutes for the microphone and the keyboard. A relay in front
// of the server (realserver-timing-proxy) times the request on the wire, so each dictation is
// split into: recorder stop, request build (reading the recording, the multipart body,
// connecting), upload, the server's time, and the answer's handling up to the paste.
// Recordings are sent as they are (no conversion). Beside it, the bare floor: the same
// multipart request sent with curl straight to the server. Quenda's overhead is the dictation's
// time minus the server's own time in that same dictation.
//
//   realserver-latency-bench [dictations=20]
// Needs the server scripts/test builds (or QUENDA_WHISPER_SERVER) and the model generator.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "RealServer.h"
#include "app/AppState.h"
#include "app/BenchDevices.h"
#include "audio/WavFileWriter.h"
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

double ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}
double ms(int64_t fromNs, int64_t toNs) {
    return static_cast<double>(toNs - fromNs) / 1e6;
}
Clock::time_point at(int64_t ns) {
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

struct Phases {
    std::vector<double> stop, build, upload, server, answer, total, overhead;
};

nlohmann::json lastExchange(const fs::path& record) {
    auto exchanges = test::readRecord(record, "event", "exchange");
    for (auto it = exchanges.rbegin(); it != exchanges.rend(); ++it) {
        if ((*it)["request"].get<std::string>().starts_with("POST /inference"))
            return *it;
    }
    throw std::runtime_error("no inference request went through the relay");
}

// The 5-second recording: espeak-ng speech in the recorder's format and header.
void makeRecording(const fs::path& directory, const fs::path& wav) {
    test::makeSpeech(directory / "speech-22k.wav",
                     "Bom dia a todos. Hoje vamos ditar um texto curto em português do Brasil.");
    test::runTool(
        "/usr/bin/sox",
        {(directory / "speech-22k.wav").string(), "-r", "16000", "-c", "1", "-b", "16", "-e",
         "signed-integer", (directory / "speech.raw").string(), "pad", "0", "5", "trim", "0", "5"});
    const std::string samples = test::readFile(directory / "speech.raw");
    audio::WavFileWriter writer(wav, 16000, 1);
    writer.append(samples.data(), samples.size());
    writer.finish();
}

void print(const char* name, const std::vector<double>& values) {
    std::printf("  %-46s p50 %8.1f ms   p95 %8.1f ms\n", name, percentile(values, 0.5),
                percentile(values, 0.95));
}

}  // namespace

int main(int argc, char** argv) {
    const int dictations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    if (auto missing = test::missingRealServerPiece()) {
        std::fprintf(stderr, "%s\n", missing->c_str());
        return 1;
    }
    const fs::path server = *test::realServerProgram();
    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    test::ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    test::ScopedEnv tmp("TMPDIR", dir.path().string());
    test::ScopedEnv relayTarget("QUENDA_TIMING_SERVER", server.string());
    test::ScopedEnv relayRecord("QUENDA_TIMING_RECORD", (dir / "relay.jsonl").string());
    fs::create_directories(dir / "models");
    fs::create_symlink(test::cachedModel("base"), dir / "models/ggml-base.bin");
    const fs::path speech = dir / "speech.wav";
    makeRecording(dir.path(), speech);

    ManualMainQueue queue;
    auto keystrokes = std::make_unique<TimedKeystrokes>();
    auto* timed = keystrokes.get();
    auto recorderOwned = std::make_unique<PreparedRecorder>();
    auto* recorder = recorderOwned.get();
    recorder->source = speech;
    recorder->directory = dir.path();
    ServerSettings settings;
    settings.serverProgram = QUENDA_TIMING_PROXY;
    auto engine = std::make_shared<TranscriptionEngine>(settings);
    auto services = quenda::bench::dictationServices(queue, engine, std::move(recorderOwned),
                                                     std::move(keystrokes));
    services.defaults = std::make_shared<InMemoryDefaults>();
    installStandardDefaults(services.defaults);
    auto state = AppState::create(std::move(services));
    state->setModelID("base");
    // Warm: the model loaded and one inference done before anything is timed.
    engine->transcribeWavData(test::readFile(speech), "base", "pt");
    const auto serverPort =
        test::readRecord(dir / "relay.jsonl", "event", "start").back()["server_port"].get<int>();

    Phases phases;
    for (int i = 0; i < dictations; ++i) {
        const int pastes = timed->pastes;
        state->beginPushToTalk();
        const auto released = Clock::now();
        state->endPushToTalk();
        if (!queue.runUntil([&] { return timed->pastes > pastes; }, std::chrono::seconds(120))) {
            std::fprintf(stderr, "dictation %d was not pasted\n", i);
            return 1;
        }
        queue.runUntil([&] { return !state->isBusy(); }, std::chrono::seconds(30));
        const auto wire = lastExchange(dir / "relay.jsonl");
        const int64_t first = wire["request_first"], last = wire["request_last"],
                      answer = wire["answer_first"];
        phases.stop.push_back(ms(released, recorder->stoppedAt));
        phases.build.push_back(ms(recorder->stoppedAt, at(first)));
        phases.upload.push_back(ms(first, last));
        phases.server.push_back(ms(last, answer));
        phases.answer.push_back(ms(at(answer), timed->pastedAt));
        phases.total.push_back(ms(released, timed->pastedAt));
        phases.overhead.push_back(phases.total.back() - phases.server.back());
    }

    // The floor: the same multipart request (fields in the same order) straight to the server.
    std::vector<double> floor;
    for (int i = 0; i < dictations; ++i) {
        const auto start = Clock::now();
        auto curl = test::runProgram(
            "/usr/bin/curl",
            {"-sf", "-o", "/dev/null", "-H", "Expect:", "-F", "response_format=json", "-F",
             "temperature=0.0", "-F", "language=pt", "-F",
             "file=@" + speech.string() + ";filename=audio.wav;type=audio/wav",
             "http://127.0.0.1:" + std::to_string(serverPort) + "/inference"});
        floor.push_back(ms(start, Clock::now()));
        if (curl.status != 0) {
            std::fprintf(stderr, "curl failed (%d)\n", curl.status);
            return 1;
        }
    }

    std::string flavour = "unknown build";
    std::ifstream stamp(server.parent_path() / "whisper-server.build");
    std::getline(stamp, flavour);
    std::printf("%d dictations of %.2f s (base geometry, random weights), server %s (%s)\n",
                dictations, test::wavSeconds(speech), server.c_str(), flavour.c_str());
    std::printf("key release to paste keystroke, split:\n");
    print("recorder stop", phases.stop);
    std::printf("  %-46s not used: recordings are sent as they are\n", "conversion");
    print("request build (read, multipart body, connect)", phases.build);
    print("request upload", phases.upload);
    print("server time", phases.server);
    print("answer handling and paste", phases.answer);
    print("total", phases.total);
    print("bare floor: curl straight to the server", floor);
    print("Quenda's overhead (total - server time)", phases.overhead);
    std::printf("overhead / floor: p50 %.2f %%   p95 %.2f %%\n",
                100 * percentile(phases.overhead, 0.5) / percentile(floor, 0.5),
                100 * percentile(phases.overhead, 0.95) / percentile(floor, 0.5));
    state.reset();
    installStandardDefaults(nullptr);
    return 0;
}
