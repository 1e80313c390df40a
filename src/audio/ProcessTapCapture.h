#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace quenda::audio {

// Delivers the sound that every other application plays, as mono 32-bit float samples at
// 16 000 Hz, on the serial queue "process-tap-capture", and can keep that sound off the
// speakers while it listens. Our own playback (see OwnPlayback.h) is never captured.
//
// Set onSamples while the capture is stopped; stop() returns only after the last delivery.
class ProcessTapCapture {
  public:
    virtual ~ProcessTapCapture() = default;

    std::function<void(std::vector<float> samples)> onSamples;

    // Starts capturing; with `muteOriginal` the captured applications are not heard meanwhile.
    // Throws PlatformError of domain "ProcessTapCapture" whose description names the step
    // that failed ("<step> falhou (<code>)"); whatever was already set up stays for stop().
    virtual void start(bool muteOriginal) = 0;

    // Gives every captured application back its own output and removes what start() set up.
    // Safe at any time and more than once; discarding the object does the same.
    virtual void stop() = 0;

    static std::unique_ptr<ProcessTapCapture> create();
};

}  // namespace quenda::audio
