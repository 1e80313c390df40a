#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineError.h"
#include "engine/ModelInfo.h"
#include "platform/DispatchQueue.h"
#include "platform/TemporaryFile.h"

namespace quenda {

class MultipartBody;
class Process;

// How the engine runs its inference server. The defaults are the product's fixed settings;
// tests shorten the waits and point at a stand-in server program.
struct ServerSettings {
    std::string host = "127.0.0.1";
    // The port used whenever it is free; when another server already listens there, a free
    // loopback port is used instead (two servers on one port would split our requests).
    uint16_t preferredPort = 8642;
    std::string language = "pt";
    std::chrono::milliseconds probeTimeout{1500};
    std::chrono::milliseconds loadTimeLimit{120000};
    // Probes follow each other quickly at first, the pause doubling up to probePause: a model
    // that loads in moments is noticed at once, a slow load is not probed more than needed.
    std::chrono::milliseconds firstProbePause{5};
    std::chrono::milliseconds probePause{300};
    // How long a server asked to stop (SIGTERM) may take to exit before it is killed (SIGKILL).
    std::chrono::milliseconds stopGracePeriod{2000};
    // When set, this program is started instead of the "whisper-server" that findExecutable finds.
    std::optional<std::filesystem::path> serverProgram;
    // The whole inference exchange must end within this time.
    std::chrono::milliseconds inferenceTimeout{1800000};
};

// The outside programs that convert audio files. The defaults are the product's; tests replace
// them to play a machine without one or the other.
struct ConverterSettings {
    // The platform converter, used for the native list when it is an executable file.
    std::filesystem::path platformConverter = "/usr/bin/afconvert";
    // Finds ffmpeg; when empty, findExecutable("ffmpeg").
    std::function<std::optional<std::filesystem::path>()> findFFmpeg;
};

// How one transcription is asked for.
struct TranscriptionOptions {
    // Fast mode: audio shorter than the model's 30-second window is encoded in a window sized
    // to it (the request's "audio_ctx"), which is several times faster and may be less
    // accurate. An answer that looks like that window's known failure (a repeated phrase, text
    // running on to the decoder's limit, nothing for audio with sound) is asked for once more
    // with the full window, and that answer is the one returned.
    bool fast = false;
    // Whether the audio is louder than silence, when the caller measured it (see
    // shortwindow::looksLikeFailure).
    std::optional<bool> hasSound;
};

// The speech-to-text engine. The static side is the model catalog and where model files live;
// an instance owns at most one whisper.cpp server process, started for one model and kept
// running while that model is wanted. Every start and stop runs on the serial queue
// "transcription-engine".
class TranscriptionEngine {
  public:
    // ---- model catalog and storage (no instance needed; safe from any thread)

    static const std::vector<ModelInfo>& availableModels();
    static std::optional<ModelInfo> modelInfo(std::string_view id);
    // $QUENDA_MODELS_DIR when set (not created; empty means the current directory), else
    // "Quenda/models" under the per-user data directory (created).
    static std::filesystem::path modelsDirectory();
    // The installed file of a model, copied once from the legacy location when only that
    // exists. Throws EngineError::modelNotFound or std::filesystem::filesystem_error.
    static std::filesystem::path modelPath(std::string_view id);
    // True when the model's file is in the models directory or at the legacy location. Only
    // looks (the legacy copy, which can take long, is made by modelPath when the model is
    // used), so it may be asked on a user-interface thread.
    static bool isModelInstalled(std::string_view id);

    // ---- server executable and liveness

    // The first executable file named `name` in: the application's resource directory's
    // "bin/" (<executable dir>/../share/quenda/bin: the bundled server of an installation or a
    // build tree), /home/linuxbrew/.linuxbrew/bin, /usr/local/bin, /usr/bin. The search path
    // is not used.
    static std::optional<std::filesystem::path> findExecutable(std::string_view name);
    static std::optional<std::filesystem::path> findExecutable(
        std::string_view name, const std::optional<std::filesystem::path>& resourceDirectory);

    // True when an HTTP server on 127.0.0.1:`port` answers GET "/" with a status below 500.
    static bool ping(uint16_t port = 8642,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(1500));

    // ---- the server process

    explicit TranscriptionEngine(ServerSettings settings = {});
    // Stops the server as stopServer does, so a discarded engine never leaves it running.
    ~TranscriptionEngine();
    TranscriptionEngine(const TranscriptionEngine&) = delete;
    TranscriptionEngine& operator=(const TranscriptionEngine&) = delete;

    // Returns once a server for `modelID` runs and answers; blocks meanwhile (up to the load
    // time limit). Throws EngineError, or the file-system error of a legacy model copy.
    // A stopServer (or the engine's destruction) while it waits ends the start at once: it then
    // throws serverFailed, as when the server exits while loading.
    void ensureServer(std::string_view modelID);
    // The same; a stop requested through `abandon` before the server answers also ends the
    // start at once. The start is shared: everyone waiting for it gets the failure.
    void ensureServer(std::string_view modelID, std::stop_token abandon);

    // Stops the server: asks it to (SIGTERM), kills it when it has not exited within the grace
    // period, and returns once it is gone. A start under way is abandoned first (see
    // ensureServer), so this never waits for a model to load. Never fails.
    void stopServer();

    // The port the current server listens on (the preferred port unless it was taken).
    uint16_t serverPort() const;

    // ---- transcription (blocks until the server answered; never on a user-interface thread)

    // Makes sure the server runs with `modelID`, converts `file` (any format normalize
    // accepts) and returns the recognised text as one trimmed line. The converted file is
    // removed on every way out; the input is only read. Throws EngineError, the converter's
    // ProcessLaunchError, or a std::filesystem::filesystem_error.
    std::string transcribe(const std::filesystem::path& file, std::string_view modelID,
                           std::string_view language, const TranscriptionOptions& options = {});

    // The same for a complete WAV file in memory (16 kHz mono 16-bit), sent unchanged.
    std::string transcribeWavData(std::string_view wavData, std::string_view modelID,
                                  std::string_view language,
                                  const TranscriptionOptions& options = {});

    // ---- audio normalisation (no instance needed)

    // Lower-case file extensions: those the platform converter reads (ffmpeg converts them
    // when it is missing or fails) and those only ffmpeg reads.
    static constexpr std::array<std::string_view, 8> nativeExtensions = {
        "m4a", "mp3", "wav", "aiff", "aif", "caf", "flac", "aac"};
    static constexpr std::array<std::string_view, 4> ffmpegExtensions = {"opus", "ogg", "webm",
                                                                         "mkv"};

    // Converts `input` into a new "quenda-<UUID>.wav" (16 000 Hz, mono, signed 16-bit) in the
    // temporary directory and hands over that file: it is removed when the returned object
    // goes away, and at once when the conversion fails. Throws EngineError
    // (unsupportedFile, needsFFmpeg, conversionFailed) or the converter's ProcessLaunchError.
    static TemporaryFile normalize(const std::filesystem::path& input,
                                   const ConverterSettings& converters = {});

  private:
    void startServerLocked(std::string_view modelID, uint64_t generation);
    // Ends every start under way or waiting on the queue now; from any thread, returns at once.
    void abandonStarts();
    bool abandonedSince(uint64_t generation) const;
    void stopServerLocked();
    static void runFFmpeg(const std::filesystem::path& ffmpeg, const std::filesystem::path& input,
                          const std::filesystem::path& output);
    std::string postInference(std::string_view wavData, std::string_view language,
                              std::optional<int> audioContext);
    std::string sendInference(const MultipartBody& body);

    const ServerSettings settings_;
    // Held for a whole transcription, server start included: a request in flight keeps its
    // server until it is answered, and a request for another model waits for it instead of
    // restarting the server under it (dictation and live translation share the engine).
    std::mutex requestMutex_;
    // Changed only on queue_.
    std::shared_ptr<Process> serverProcess_;
    std::optional<std::string> loadedModelID_;
    std::atomic<uint16_t> serverPort_;
    // Counts abandonStarts calls: a start that sees it change since it was asked for gives up.
    std::atomic<uint64_t> abandonedStarts_{0};
    // The server while it loads, so that a stop on another thread can end it at once.
    std::mutex loadingMutex_;
    std::shared_ptr<Process> loading_;
    DispatchQueue queue_{"transcription-engine"};
};

}  // namespace quenda
