// Key release to paste keystroke for 5- and 15-second Portuguese dictations against the real
// whisper.cpp server (random-weights base model, warm), with fast mode off and on side by side,
// the application state driven as the window drives it and substitutes for the microphone and
// the keyboard. A relay in front of the server (realserver-timing-proxy) times the requests on
// the wire, so each dictation is split into: recorder stop, request build (reading the
// recording, the multipart body, connecting), upload, the server's time, and the answer's
// handling up to the paste. Recordings are sent as they are (no conversion). Beside each, the
// bare floor: the same multipart request (with the same audio window) sent with curl straight
// to the server. Quenda's overhead is the dictation's time minus the server's own time in it.
// A second floor turns the temperature fallback off: random weights trip it on every request,
// a trained model on clear speech seldom does; with Quenda's overhead added, it estimates
// release to paste for a dictation decoded once. Fast mode asks again with the full window when an
// answer looks like the short window's failure; how many dictations did is printed, and their
// server time counts both requests.
//
//   realserver-latency-bench [dictations=10]
// Needs the server scripts/test builds (or QUENDA_WHISPER_SERVER) and the model generator.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "RealServer.h"
#include "app/AppState.h"
#include "app/BenchDevices.h"
#include "audio/WavFileWriter.h"
#include "engine/ShortWindow.h"
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
    std::vector<double> stop, build, upload, server, answer, total, overhead, floor,
        singleDecodeFloor;
    int retried = 0;
};

// The inference exchanges through the relay since the first `seen` of them.
std::vector<nlohmann::json> inferenceExchanges(const fs::path& record, size_t seen = 0) {
    std::vector<nlohmann::json> found;
    for (auto& exchange : test::readRecord(record, "event", "exchange")) {
        if (exchange["request"].get<std::string>().starts_with("POST /inference"))
            found.push_back(std::move(exchange));
    }
    found.erase(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(seen));
    return found;
}

// A recording of `seconds`: espeak-ng speech in the recorder's format and header, padded with
// silence (or cut) to that length.
void makeRecording(const fs::path& directory, const std::string& text, int seconds,
                   const fs::path& wav) {
    test::makeSpeech(directory / "speech-22k.wav", text);
    const std::string length = std::to_string(seconds);
    test::runTool("/usr/bin/sox",
                  {(directory / "speech-22k.wav").string(), "-r", "16000", "-c", "1", "-b", "16",
                   "-e", "signed-integer", (directory / "speech.raw").string(), "pad", "0", length,
                   "trim", "0", length});
    const std::string samples = test::readFile(directory / "speech.raw");
    audio::WavFileWriter writer(wav, 16000, 1);
    writer.append(samples.data(), samples.size());
    writer.finish();
}

// The audio window fast mode asks for (the recordings are shorter than the full window).
int windowOf(const fs::path& wav) {
    return shortwindow::audioContext(static_cast<uint64_t>(test::wavSeconds(wav) * 16000 + 0.5),
                                     16000)
        .value_or(shortwindow::kFullWindow);
}

void print(const char* name, const std::vector<double>& values) {
    std::printf("    %-56s p50 %8.1f ms   p95 %8.1f ms\n", name, percentile(values, 0.5),
                percentile(values, 0.95));
}

}  // namespace

int main(int argc, char** argv) {
    const int dictations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
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
    // The server's threads sleep while they wait instead of spinning (see RealServerTest).
    test::ScopedEnv ompWait("OMP_WAIT_POLICY", "passive");
    fs::create_directories(dir / "models");
    fs::create_symlink(test::cachedModel("base"), dir / "models/ggml-base.bin");
    struct Utterance {
        int seconds;
        fs::path wav;
    };
    const Utterance utterances[] = {{5, dir / "speech-5s.wav"}, {15, dir / "speech-15s.wav"}};
    makeRecording(dir.path(),
                  "Bom dia a todos. Hoje vamos ditar um texto curto em português do Brasil.", 5,
                  utterances[0].wav);
    makeRecording(dir.path(),
                  "Bom dia a todos. Hoje vamos ditar um texto um pouco mais longo em português do "
                  "Brasil, para medir quanto tempo o servidor leva para transcrever uma fala de "
                  "quinze segundos. Depois comparamos o modo rápido com o modo normal.",
                  15, utterances[1].wav);

    ManualMainQueue queue;
    auto keystrokes = std::make_unique<TimedKeystrokes>();
    auto* timed = keystrokes.get();
    auto recorderOwned = std::make_unique<PreparedRecorder>();
    auto* recorder = recorderOwned.get();
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
    // Warm: the model loaded and one inference of each kind done before anything is timed.
    for (const auto& utterance : utterances) {
        for (bool fast : {false, true})
            engine->transcribeWavData(test::readFile(utterance.wav), "base", "pt", {fast, true});
    }
    const auto serverPort =
        test::readRecord(dir / "relay.jsonl", "event", "start").back()["server_port"].get<int>();

    // One configuration: the dictations, then the floor with the same fields.
    auto measure = [&](const Utterance& utterance, bool fast) -> std::optional<Phases> {
        Phases phases;
        recorder->source = utterance.wav;
        state->setFastMode(fast);
        for (int i = 0; i < dictations; ++i) {
            const int pastes = timed->pastes;
            const size_t seen = inferenceExchanges(dir / "relay.jsonl").size();
            state->beginPushToTalk();
            const auto released = Clock::now();
            state->endPushToTalk();
            if (!queue.runUntil([&] { return timed->pastes > pastes; },
                                std::chrono::seconds(300))) {
                std::fprintf(stderr, "dictation %d was not pasted\n", i);
                return std::nullopt;
            }
            queue.runUntil([&] { return !state->isBusy(); }, std::chrono::seconds(30));
            // The relay records an exchange once it has passed the whole answer on, which can
            // be just after Quenda has pasted it.
            std::vector<nlohmann::json> wire;
            test::waitUntil(
                [&] {
                    wire = inferenceExchanges(dir / "relay.jsonl", seen);
                    return !wire.empty();
                },
                std::chrono::seconds(5));
            if (wire.empty()) {
                std::fprintf(stderr, "no inference request went through the relay\n");
                return std::nullopt;
            }
            phases.retried += wire.size() > 1 ? 1 : 0;
            double serverTime = 0;
            for (const auto& exchange : wire)
                serverTime += ms(exchange["request_last"].get<int64_t>(),
                                 exchange["answer_first"].get<int64_t>());
            const int64_t first = wire.front()["request_first"],
                          last = wire.front()["request_last"], answer = wire.back()["answer_first"];
            phases.stop.push_back(ms(released, recorder->stoppedAt));
            phases.build.push_back(ms(recorder->stoppedAt, at(first)));
            phases.upload.push_back(ms(first, last));
            phases.server.push_back(serverTime);
            phases.answer.push_back(ms(at(answer), timed->pastedAt));
            phases.total.push_back(ms(released, timed->pastedAt));
            phases.overhead.push_back(phases.total.back() - phases.server.back());
        }
        // The floor as Quenda asks, and with the temperature fallback off: random weights trip
        // the fallback on every request (it decodes up to five more times), which a trained
        // model on clear speech rarely does, so the second floor is the time one decode takes.
        const auto floor = [&](bool singleDecode, std::vector<double>& into) {
            std::vector<std::string> fields = {"-sf", "-o", "/dev/null", "-H", "Expect:"};
            std::vector<std::string> values = {"response_format=json", "temperature=0.0",
                                               "language=pt"};
            if (fast)
                values.push_back("audio_ctx=" + std::to_string(windowOf(utterance.wav)));
            if (singleDecode)
                values.push_back("temperature_inc=0");
            for (const auto& value : values)
                fields.insert(fields.end(), {"-F", value});
            fields.insert(
                fields.end(),
                {"-F", "file=@" + utterance.wav.string() + ";filename=audio.wav;type=audio/wav",
                 "http://127.0.0.1:" + std::to_string(serverPort) + "/inference"});
            for (int i = 0; i < dictations; ++i) {
                const auto start = Clock::now();
                auto curl = test::runProgram("/usr/bin/curl", fields);
                into.push_back(ms(start, Clock::now()));
                if (curl.status != 0) {
                    std::fprintf(stderr, "curl failed (%d)\n", curl.status);
                    return false;
                }
            }
            return true;
        };
        if (!floor(false, phases.floor) || !floor(true, phases.singleDecodeFloor))
            return std::nullopt;
        return phases;
    };

    std::string flavour = "unknown build";
    std::ifstream stamp(server.parent_path() / "whisper-server.build");
    std::getline(stamp, flavour);
    std::printf(
        "%d dictations and %d floor requests per configuration (base geometry, random "
        "weights), server %s (%s)\n",
        dictations, dictations, server.c_str(), flavour.c_str());
    for (const auto& utterance : utterances) {
        for (bool fast : {false, true}) {
            const auto phases = measure(utterance, fast);
            if (!phases)
                return 1;
            std::string note;
            if (fast) {
                note = " (audio_ctx " + std::to_string(windowOf(utterance.wav)) +
                       "; asked again with the full window in " + std::to_string(phases->retried) +
                       " of " + std::to_string(dictations) + ")";
            }
            std::printf("%.2f s utterance, fast mode %s%s:\n", test::wavSeconds(utterance.wav),
                        fast ? "on" : "off", note.c_str());
            print("recorder stop", phases->stop);
            print("request build (read, multipart body, connect)", phases->build);
            print("request upload", phases->upload);
            print("server time", phases->server);
            print("answer handling and paste", phases->answer);
            print("release to paste (total)", phases->total);
            print("bare floor: curl straight to the server", phases->floor);
            print("Quenda's overhead (total - server time)", phases->overhead);
            print("bare floor, one decode (temperature_inc=0)", phases->singleDecodeFloor);
            std::vector<double> estimate;
            for (size_t i = 0; i < phases->overhead.size(); ++i)
                estimate.push_back(phases->singleDecodeFloor[i] + phases->overhead[i]);
            print("release to paste with one decode (that floor + overhead)", estimate);
        }
    }
    state.reset();
    installStandardDefaults(nullptr);
    return 0;
}
