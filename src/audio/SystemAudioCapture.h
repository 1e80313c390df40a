#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quenda::audio {

// Delivers what the computer plays (the monitor of the default output) as mono 32-bit float
// samples at 16 000 Hz, in blocks, on the serial queue "system-audio-capture". Our own
// playback is replaced by silence (see OwnPlayback.h). It cannot mute the source.
//
// Set the callbacks while the capture is stopped; stop() returns only after the last delivery,
// so they can be replaced safely after it.
class SystemAudioCapture {
  public:
    virtual ~SystemAudioCapture() = default;

    std::function<void(std::vector<float> samples)> onSamples;
    // The stream stopped on its own (the sound server went away or ended it); on the same
    // queue as the samples, after the last block.
    std::function<void(const std::string& description)> onError;

    // Returns once the capture runs. Throws PlatformError of domain "SystemAudioCapture".
    virtual void start() = 0;
    // Ends the capture; no effect when none runs. Safe from any thread, callbacks included.
    virtual void stop() = 0;

    static std::unique_ptr<SystemAudioCapture> create();
};

}  // namespace quenda::audio
