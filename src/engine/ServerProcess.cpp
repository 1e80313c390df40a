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
    // Then Homebrew's prefix on Linux and the system's own folders.
    for (const char* directory : {"/home/linuxbrew/.linuxbrew/bin", "/usr/local/bin", "/usr/bin"}) {
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

namespace {

// What a start reports when its server ends before answering, whoever ended it.
EngineError serverExitedWhileLoading() {
    return EngineError::serverFailed("processo encerrou ao carregar o modelo");
}

}  // namespace

TranscriptionEngine::TranscriptionEngine(ServerSettings settings)
    : settings_(std::move(settings)), serverPort_(settings_.preferredPort) {}

TranscriptionEngine::~TranscriptionEngine() {
    stopServer();
}

uint16_t TranscriptionEngine::serverPort() const {
    return serverPort_.load();
}

void TranscriptionEngine::ensureServer(std::string_view modelID) {
    ensureServer(modelID, std::stop_token());
}

void TranscriptionEngine::ensureServer(std::string_view modelID, std::stop_token abandon) {
    if (abandon.stop_requested())
        throw serverExitedWhileLoading();
    // Taken before waiting for the queue: a stop asked for while this call waits behind
    // another start ends this one as well.
    const uint64_t generation = abandonedStarts_.load();
    std::stop_callback onAbandon(abandon, [this] { abandonStarts(); });
    queue_.sync([this, modelID, generation] { startServerLocked(modelID, generation); });
}

void TranscriptionEngine::abandonStarts() {
    ++abandonedStarts_;
    std::shared_ptr<Process> loading;
    {
        std::lock_guard lock(loadingMutex_);
        loading = loading_;
    }
    // A server still loading serves no one yet: it is ended at once, which also wakes the
    // start that waits for it.
    if (loading)
        loading->kill();
}

bool TranscriptionEngine::abandonedSince(uint64_t generation) const {
    return abandonedStarts_.load() != generation;
}

void TranscriptionEngine::startServerLocked(std::string_view modelID, uint64_t generation) {
    if (serverProcess_ && serverProcess_->isRunning() && loadedModelID_ == modelID)
        return;
    stopServerLocked();
    if (abandonedSince(generation))
        throw serverExitedWhileLoading();

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

    // The server's compute threads wait for work without spinning: spinning keeps a core busy
    // after every request (and on a busy machine delays the first one by minutes).
    ProcessOptions options;
    options.environment = {{"OMP_WAIT_POLICY", "passive"}};
    try {
        serverProcess_ = Process::launch(*program,
                                         {"-m", model.string(), "-l", settings_.language, "--port",
                                          std::to_string(port), "--host", settings_.host},
                                         options);
    } catch (const ProcessLaunchError& error) {
        throw EngineError::serverFailed(error.what());
    }
    loadedModelID_ = std::string(modelID);
    serverPort_ = port;

    // Published for abandonStarts while the load lasts. A stop that came before this could not
    // see it, but changed the generation, which the loop below looks at first.
    {
        std::lock_guard lock(loadingMutex_);
        loading_ = serverProcess_;
    }
    struct Unpublish {
        TranscriptionEngine& engine;
        ~Unpublish() {
            std::lock_guard lock(engine.loadingMutex_);
            engine.loading_.reset();
        }
    } unpublish{*this};

    const auto deadline = std::chrono::steady_clock::now() + settings_.loadTimeLimit;
    auto pause = std::min(settings_.firstProbePause, settings_.probePause);
    while (std::chrono::steady_clock::now() < deadline) {
        if (abandonedSince(generation) || !serverProcess_->isRunning()) {
            stopServerLocked();
            throw serverExitedWhileLoading();
        }
        if (ping(port, settings_.probeTimeout) && !abandonedSince(generation))
            return;
        // The pause ends early when the server exits, so a failed load is reported at once.
        serverProcess_->waitForExit(pause);
        pause = std::min(pause * 2, settings_.probePause);
    }
    stopServerLocked();
    throw EngineError::serverFailed("tempo esgotado ao carregar o modelo");
}

void TranscriptionEngine::stopServer() {
    // Abandoned before queuing, so the stop never waits for a load to finish.
    abandonStarts();
    queue_.sync([this] { stopServerLocked(); });
}

void TranscriptionEngine::stopServerLocked() {
    // A server that ignores SIGTERM is killed after the grace period. The handle goes once the
    // process has been reaped; one that even SIGKILL cannot end at once (stuck in the kernel)
    // is reaped in the background when it finally exits.
    if (serverProcess_)
        serverProcess_->stop(settings_.stopGracePeriod);
    serverProcess_.reset();
    loadedModelID_.reset();
}

}  // namespace quenda
