// Small helpers every test folder (and the benchmarks) share.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Process.h"

namespace quenda::test {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quenda-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const {
        return path_ / child;
    }

  private:
    std::filesystem::path path_;
};

// Sets (or, with nothing, unsets) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()))
            previous_ = old;
        set(value);
    }
    ~ScopedEnv() { set(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const std::optional<std::string>& value) const {
        value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> previous_;
};

// Writes `bytes` to `path`, creating parent directories.
inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!(stream << bytes))
        throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to completion with captured output and extra environment variables. One still
// running after `limit` is killed (status -1), so a stuck tool fails its step instead of hanging
// the run.
inline ProgramResult runProgram(const std::filesystem::path& program,
                                const std::vector<std::string>& arguments,
                                const std::map<std::string, std::string>& environment = {},
                                std::chrono::milliseconds limit = std::chrono::minutes(5)) {
    ProcessOptions options;
    options.standardOutput = options.standardError = ProcessOptions::Output::capture;
    options.environment = environment;
    auto process = Process::launch(program, arguments, options);
    if (const auto status = process->waitForExit(limit))
        return {*status, process->standardOutputText(), process->standardErrorText()};
    process->kill();
    process->waitForExit();
    return {-1, {}, program.filename().string() + " did not end"};
}

// Polls `condition` until it holds or `timeout` passes; returns whether it held. Between two
// polls it runs `step` (say, a turn of an event loop the condition depends on) and waits a few
// milliseconds.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      const std::function<void()>& step = {}) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        if (step)
            step();
        std::this_thread::sleep_for(std::chrono::milliseconds(step ? 2 : 10));
    }
    return true;
}

// True while a thread of the process with this id runs. (Its first thread shows as a zombie as
// soon as it has ended itself, while the process's other threads may still be ending.)
inline bool processAlive(int pid) {
    std::error_code gone;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
        const std::string stat = readFile(task.path() / "stat");  // empty once the task is gone
        const auto state = stat.rfind(')') + 2;  // its letter follows the parenthesised name
        if (state < stat.size() && stat[state] != 'Z' && stat[state] != 'X')
            return true;
    }
    return false;
}

// The JSON lines a fake server recorded in `path` (missing file: none); with `key`, only those
// whose `key` is `value` (say "event" "start", or "path" "/inference").
inline std::vector<nlohmann::json> readRecord(const std::filesystem::path& path,
                                              const std::string& key = {},
                                              const std::string& value = {}) {
    std::vector<nlohmann::json> lines;
    std::ifstream stream(path);
    for (std::string line; std::getline(stream, line);) {
        auto entry = nlohmann::json::parse(line, nullptr, false);
        if (!line.empty() && (key.empty() || (entry.is_object() && entry.value(key, "") == value)))
            lines.push_back(entry);
    }
    return lines;
}

// The error of type E that `work` throws; none at all fails the test (as an exception).
template <class E, class Work>
E thrown(Work&& work) {
    try {
        work();
    } catch (const E& error) {
        return error;
    }
    throw std::runtime_error("the expected exception was not thrown");
}

}  // namespace quenda::test
