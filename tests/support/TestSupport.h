#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quenda::test {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
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
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const std::optional<std::string>& value) const;
    std::string name_;
    std::optional<std::string> previous_;
};

// Writes `bytes` to `path`, creating parent directories.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to completion with captured output and extra environment variables.
ProgramResult runProgram(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {});

// Polls `condition` until it holds or `timeout` passes; returns whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True while a process with this id exists and is not a zombie.
bool processAlive(int pid);

// The JSON lines a fake server recorded in `path` (missing file: none); with `key`, only those
// whose `key` is `value` (say "event" "start", or "path" "/inference").
std::vector<nlohmann::json> readRecord(const std::filesystem::path& path,
                                       const std::string& key = {}, const std::string& value = {});

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
