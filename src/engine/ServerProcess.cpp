// TranscriptionEngine's inference server: finding the program, starting it for a model,
// waiting until it answers, and stopping it.

#include <algorithm>
#include <thread>

#include "engine/TranscriptionEngine.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "platform/LoopbackPorts.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace quenda {

std::optional<std::filesystem::path> TranscriptionEngine::findExecutable(std::string_view name) {
    return findExecutable(name, paths::resourceDirectory());
}

std::optional<std::filesystem::path> TranscriptionEngine::findExecutable(
    std::string_view name, const std::optional<std::filesystem::path>& resourceDirectory) {
    std::vector<std::filesystem::path> candidates;
    if (resourceDirectory)
        candidates.push_back(*resourceDirectory / "bin" / name);
    for (const char* directory : {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin"}) {
        candidates.push_back(std::filesystem::path(directory) / name);
    }
    for (const auto& candidate : candidates) {
        if (files::isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

bool TranscriptionEngine::ping(uint16_t port, std::chrono::milliseconds timeout) {
    auto response = Http::get("http://127.0.0.1:" + std::to_string(port) + "/", timeout);
    return response.answered() && response.status >= 100 && response.status < 500;
}

TranscriptionEngine::TranscriptionEngine(ServerSettings settings)
    : settings_(std::move(settings)), serverPort_(settings_.preferredPort) {}

TranscriptionEngine::~TranscriptionEngine() {
    queue_.sync([this] { stopServerLocked(); });
}

uint16_t TranscriptionEngine::serverPort() const {
    return serverPort_.load();
}

void TranscriptionEngine::ensureServer(std::string_view modelID) {
    queue_.sync([this, modelID] {
        if (serverProcess_ && serverProcess_->isRunning() && loadedModelID_ == modelID)
            return;
        stopServerLocked();

        auto program =
            settings_.serverProgram ? settings_.serverProgram : findExecutable("whisper-server");
        if (!program)
            throw EngineError::whisperNotFound();
        auto model = modelPath(modelID);

        // A server already listening on the preferred port (another Quenda, or one left over)
        // would share it with ours, and the system would split our requests between the two.
        uint16_t port = settings_.preferredPort;
        if (!isLoopbackPortFree(port)) {
            if (auto freePort = findFreeLoopbackPort())
                port = *freePort;
        }

        std::unique_ptr<Process> process;
        try {
            process =
                Process::launch(*program, {"-m", model.string(), "-l", settings_.language, "--port",
                                           std::to_string(port), "--host", settings_.host});
        } catch (const ProcessLaunchError& error) {
            throw EngineError::serverFailed(error.what());
        }
        serverProcess_ = std::move(process);
        loadedModelID_ = std::string(modelID);
        serverPort_ = port;

        const auto deadline = std::chrono::steady_clock::now() + settings_.loadTimeLimit;
        auto pause = std::min(settings_.firstProbePause, settings_.probePause);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!serverProcess_->isRunning()) {
                throw EngineError::serverFailed("processo encerrou ao carregar o modelo");
            }
            if (ping(port, settings_.probeTimeout))
                return;
            // The pause ends early when the server exits, so a failed load is reported at once.
            serverProcess_->waitForExit(pause);
            pause = std::min(pause * 2, settings_.probePause);
        }
        stopServerLocked();
        throw EngineError::serverFailed("tempo esgotado ao carregar o modelo");
    });
}

void TranscriptionEngine::stopServer() {
    queue_.sync([this] { stopServerLocked(); });
}

void TranscriptionEngine::stopServerLocked() {
    if (serverProcess_)
        serverProcess_->terminate();
    // Dropping the handle of a process that has not exited yet reaps it in the background.
    serverProcess_.reset();
    loadedModelID_.reset();
}

}  // namespace quenda
