#pragma once

#include <memory>

#include "audio/SystemAudioCapture.h"
#include "live/CaptureSource.h"

namespace quenda::live {

// The fallback source: the monitor of the output (SystemAudioCapture).
class CaptureSourceSystemAudio : public CaptureSource {
  public:
    explicit CaptureSourceSystemAudio(std::unique_ptr<audio::SystemAudioCapture> capture)
        : capture_(std::move(capture)) {
        capture_->onSamples = [this](std::vector<float> samples) {
            if (onSamples)
                onSamples(std::move(samples));
        };
        capture_->onError = [this](const std::string& description) {
            if (onError)
                onError(description);
        };
    }
    ~CaptureSourceSystemAudio() override { capture_->stop(); }

    void start() override { capture_->start(); }
    void stop() override { capture_->stop(); }

  private:
    std::unique_ptr<audio::SystemAudioCapture> capture_;
};

}  // namespace quenda::live
