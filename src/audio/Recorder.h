#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quenda::audio {

// Records the default microphone into a new WAV file (16 000 Hz, mono, 16-bit PCM) in the
// temporary directory, named "brevimo-rec-<UUID>.wav", for push-to-talk dictation.
// Called from one thread (the main thread); the samples are written on the backend's own
// delivery thread.
class Recorder {
  public:
    virtual ~Recorder() = default;

    // Calls `completion` with whether the microphone may be used.
    virtual void requestPermission(std::function<void(bool granted)> completion) = 0;

    // Begins a recording; does nothing while one runs. Throws PlatformError: domain
    // "Recorder", code 1, "Microfone indisponível" when there is no sound server or microphone.
    virtual void start() = 0;

    // Ends the recording and returns its file, complete and closed; nothing when idle.
    virtual std::optional<std::filesystem::path> stop() = 0;

    virtual bool isRecording() const = 0;

    // The file of the current or the last recording.
    virtual std::optional<std::filesystem::path> outputURL() const = 0;

    // Called on the backend's thread when the microphone's stream ends by itself during a
    // recording (device unplugged, sound server gone), with the description to show. The
    // recording stays open: stop() still returns what was recorded until then. Set once.
    std::function<void(const std::string& description)> onInterrupted;

    // The recorder of this platform.
    static std::unique_ptr<Recorder> create();
};

}  // namespace quenda::audio
