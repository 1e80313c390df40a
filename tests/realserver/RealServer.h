// The real whisper.cpp server and random-weights models for the tests and benchmarks that need
// them. scripts/test builds the server once per build folder and names it in
// QUENDA_WHISPER_SERVER; models are generated on first use into a cache under the build folder.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quenda::test {

// The server program, or nothing when it was not built here.
inline std::optional<std::filesystem::path> realServerProgram() {
    const char* configured = std::getenv("QUENDA_WHISPER_SERVER");
    std::filesystem::path program =
        configured && *configured ? configured : QUENDA_REAL_WHISPER_SERVER;
    if (::access(program.c_str(), X_OK) != 0)
        return std::nullopt;
    return program;
}

inline std::filesystem::path modelGenerator() {
    const char* configured = std::getenv("QUENDA_MODEL_GENERATOR");
    return configured && *configured ? configured : QUENDA_MODEL_GENERATOR_DEFAULT;
}

// What keeps the real-server tests from running, or nothing when they can run.
inline std::optional<std::string> missingRealServerPiece() {
    if (!realServerProgram())
        return std::string("no whisper.cpp server at ") + QUENDA_REAL_WHISPER_SERVER +
               " (nor in QUENDA_WHISPER_SERVER): scripts/test builds it when the whisper.cpp "
               "v1.9.3 source archive is at ../shared/third_party/ or in QUENDA_WHISPER_SOURCE";
    if (!std::filesystem::is_regular_file(modelGenerator()))
        return "no model generator at " + modelGenerator().string() +
               " (nor in QUENDA_MODEL_GENERATOR)";
    return std::nullopt;
}

// A random-weights model of this geometry ("tiny", "base", ...), generated once into the
// cache (through a temporary name, so a run cut short never leaves half a model).
inline std::filesystem::path cachedModel(const std::string& geometry) {
    const std::filesystem::path cache = QUENDA_TEST_MODEL_CACHE;
    const auto model = cache / ("random-" + geometry + ".bin");
    if (std::filesystem::exists(model))
        return model;
    std::filesystem::create_directories(cache);
    const auto partial = cache / ("random-" + geometry + ".bin." + std::to_string(::getpid()));
    auto result = runProgram("/usr/bin/python3", {modelGenerator().string(), "-o", partial.string(),
                                                  "--size", geometry});
    if (result.status != 0) {
        std::filesystem::remove(partial);
        throw std::runtime_error("model generation failed: " + result.err);
    }
    std::filesystem::rename(partial, model);
    return model;
}

// The ids of this process's child processes named `name` that have not exited. (The kernel
// lists each thread's children; its command names keep 15 characters.)
inline std::vector<int> childProcesses(const std::string& name) {
    std::vector<int> children;
    for (const auto& thread : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream list(thread.path() / "children");
        for (int pid; list >> pid;)
            if (processAlive(pid) &&
                readFile("/proc/" + std::to_string(pid) + "/comm") == name.substr(0, 15) + "\n")
                children.push_back(pid);
    }
    return children;
}

}  // namespace quenda::test
