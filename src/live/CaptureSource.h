#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quenda::live {

// A source of system audio: mono 32-bit float samples at 16 000 Hz, delivered in blocks on the
// source's own serial thread.
//
// The owner sets the callbacks while the source is stopped. stop() returns only after the last
// delivery and may be called from any thread, the source's own callbacks included.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;

    std::function<void(std::vector<float> samples)> onSamples;
    // The source stopped by itself; the text says why.
    std::function<void(const std::string& description)> onError;

    // Returns once samples flow. Throws an exception whose what() says why it cannot start;
    // whatever it set up before failing is released by stop().
    virtual void start() = 0;
    // Ends the capture; no effect when none runs. Safe to call more than once.
    virtual void stop() = 0;
};

}  // namespace quenda::live
