// Starts and stops the stand-in whisper server through the engine many times and prints how
// long ensureServer takes: from launch to return, and from the moment the server starts
// answering to return (the engine's own readiness delay). Then checks that no server process
// is left behind.
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

#include <nlohmann/json.hpp>

#include "engine/TranscriptionEngine.h"

namespace {

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

bool alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    auto close = line.rfind(')');
    return close != std::string::npos && line.at(close + 2) != 'Z';
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 200;
    auto dir = std::filesystem::temp_directory_path() / "quenda-server-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "models");
    std::ofstream(dir / "models" / "ggml-base.bin") << "fake-ggml-model\n";
    const auto record = dir / "record.jsonl";
    setenv("QUENDA_MODELS_DIR", (dir / "models").c_str(), 1);
    setenv("FAKE_WHISPER_RECORD", record.c_str(), 1);

    quenda::ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    quenda::TranscriptionEngine engine(settings);

    std::vector<double> total, afterAnswering;
    std::vector<int> pids;
    int otherPort = 0;
    for (int i = 0; i < iterations; ++i) {
        std::filesystem::remove(record);
        const long long launched = monotonicNanoseconds();
        engine.ensureServer("base");
        const long long returned = monotonicNanoseconds();
        if (engine.serverPort() != 8642)
            ++otherPort;
        std::ifstream lines(record);
        for (std::string line; std::getline(lines, line);) {
            auto entry = nlohmann::json::parse(line);
            if (entry["event"] == "start")
                pids.push_back(entry["pid"]);
            if (entry["event"] == "listening") {
                afterAnswering.push_back(
                    static_cast<double>(returned - entry["monotonic_ns"].get<long long>()) / 1e9);
            }
        }
        total.push_back(static_cast<double>(returned - launched) / 1e9);
        engine.stopServer();
    }

    // Stopped servers end on their own (SIGTERM); give them a moment, then look for leftovers.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int left = 0;
    for (int pid : pids)
        left += alive(pid) ? 1 : 0;

    std::printf("server start-up through the engine, %d runs (fake whisper-server)\n", iterations);
    std::printf("  launch -> ensureServer returns:          median %.3f s, p95 %.3f s\n",
                percentile(total, 0.5), percentile(total, 0.95));
    std::printf(
        "  server answering -> ensureServer returns: median %.3f s, p95 %.3f s "
        "(target <= 0.35 s)\n",
        percentile(afterAnswering, 0.5), percentile(afterAnswering, 0.95));
    std::printf("  runs on another port (8642 still held by the previous server): %d\n", otherPort);
    std::printf("  server processes left behind: %d of %zu\n", left, pids.size());
    std::filesystem::remove_all(dir);
    return left == 0 ? 0 : 1;
}
