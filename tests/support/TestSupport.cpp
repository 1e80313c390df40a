#include "support/TestSupport.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/Process.h"

namespace quenda::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quenda-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str()))
        previous_ = old;
    set(value);
}

ScopedEnv::~ScopedEnv() {
    set(previous_);
}

void ScopedEnv::set(const std::optional<std::string>& value) const {
    value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!(stream << bytes))
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

ProgramResult runProgram(const fs::path& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment) {
    ProcessOptions options;
    options.standardOutput = options.standardError = ProcessOptions::Output::capture;
    options.environment = environment;
    auto process = Process::launch(program, arguments, options);
    const int status = process->waitForExit();
    return {status, process->standardOutputText(), process->standardErrorText()};
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

bool processAlive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The state letter follows the parenthesised command name.
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() &&
           std::string("ZX").find(line[close + 2]) == std::string::npos;
}

std::vector<nlohmann::json> readRecord(const fs::path& path, const std::string& key,
                                       const std::string& value) {
    std::vector<nlohmann::json> lines;
    std::ifstream stream(path);
    for (std::string line; std::getline(stream, line);) {
        auto entry = nlohmann::json::parse(line, nullptr, false);
        if (!line.empty() && (key.empty() || (entry.is_object() && entry.value(key, "") == value)))
            lines.push_back(entry);
    }
    return lines;
}

}  // namespace quenda::test
