// Starts and stops the stand-in whisper server through the engine many times and prints how
// long ensureServer takes: from launch to return, and from the moment the server starts
// answering to return (the engine's own readiness delay); how long stopServer takes (it returns
// once the server is gone); and how long a stop takes to end a start still loading a model.
// Then checks that no server process is left behind.
//
//   server-startup-bench [iterations=200]
// Run it in a private network (scripts/lib/private-network) so port 8642 is free.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "engine/TranscriptionEngine.h"
#include "support/TestSupport.h"

namespace {

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

using quenda::bench::percentile;

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 200;
    quenda::test::TempDir dir;
    quenda::test::writeFile(dir / "models" / "ggml-base.bin", "fake-ggml-model\n");
    const auto record = dir / "record.jsonl";
    quenda::test::ScopedEnv models("QUENDA_MODELS_DIR", (dir / "models").string());
    quenda::test::ScopedEnv recording("FAKE_WHISPER_RECORD", record.string());

    quenda::ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    quenda::TranscriptionEngine engine(settings);

    std::vector<double> total, afterAnswering, stopping, abandoning;
    std::vector<int> pids;
    int otherPort = 0;
    for (int i = 0; i < iterations; ++i) {
        std::filesystem::remove(record);
        const long long launched = monotonicNanoseconds();
        engine.ensureServer("base");
        const long long returned = monotonicNanoseconds();
        if (engine.serverPort() != 8642)
            ++otherPort;
        for (const auto& entry : quenda::test::readRecord(record)) {
            if (entry["event"] == "start")
                pids.push_back(entry["pid"]);
            if (entry["event"] == "listening") {
                afterAnswering.push_back(
                    static_cast<double>(returned - entry["monotonic_ns"].get<long long>()) / 1e9);
            }
        }
        total.push_back(static_cast<double>(returned - launched) / 1e9);
        const long long stop = monotonicNanoseconds();
        engine.stopServer();
        stopping.push_back(static_cast<double>(monotonicNanoseconds() - stop) / 1e9);
    }

    // A stop while the model loads (a server that never answers): from the stop to the return
    // of the start it ended.
    quenda::test::writeFile(dir / "models" / "ggml-base.bin", "fake-ggml-model\nnever_listen\n");
    for (int i = 0; i < std::max(1, iterations / 10); ++i) {
        std::filesystem::remove(record);
        long long ended = 0;
        std::thread starter([&] {
            try {
                engine.ensureServer("base");
            } catch (const quenda::EngineError&) {
            }
            ended = monotonicNanoseconds();
        });
        quenda::test::waitUntil([&] { return !quenda::test::readRecord(record).empty(); });
        for (const auto& entry : quenda::test::readRecord(record, "event", "start"))
            pids.push_back(entry["pid"]);
        const long long stop = monotonicNanoseconds();
        engine.stopServer();
        starter.join();
        abandoning.push_back(static_cast<double>(ended - stop) / 1e9);
    }

    // stopServer returns once the server is gone: nothing may be left at this point.
    int left = 0;
    for (int pid : pids)
        left += quenda::test::processAlive(pid) ? 1 : 0;

    std::printf("server start-up through the engine, %d runs (fake whisper-server)\n", iterations);
    std::printf("  launch -> ensureServer returns:          median %.3f s, p95 %.3f s\n",
                percentile(total, 0.5), percentile(total, 0.95));
    std::printf(
        "  server answering -> ensureServer returns: median %.3f s, p95 %.3f s "
        "(target <= 0.35 s)\n",
        percentile(afterAnswering, 0.5), percentile(afterAnswering, 0.95));
    std::printf("  stopServer (SIGTERM, server exits) -> returns:  median %.3f s, p95 %.3f s\n",
                percentile(stopping, 0.5), percentile(stopping, 0.95));
    std::printf("  stopServer during a load -> the start returns: median %.3f s, p95 %.3f s\n",
                percentile(abandoning, 0.5), percentile(abandoning, 0.95));
    std::printf("  runs on another port (8642 still held by the previous server): %d\n", otherPort);
    std::printf("  server processes left behind: %d of %zu\n", left, pids.size());
    return left == 0 ? 0 : 1;
}
