#pragma once

#include <memory>

#include "audio/ProcessTapCapture.h"
#include "live/CaptureSource.h"

namespace quenda::live {

// The preferred source: every other application's sound (ProcessTapCapture), muted on the
// output while it runs when that was asked. It never stops by itself, so onError stays unused.
class CaptureSourceProcessTap : public CaptureSource {
  public:
    CaptureSourceProcessTap(std::unique_ptr<audio::ProcessTapCapture> capture, bool muteOriginal)
        : capture_(std::move(capture)), muteOriginal_(muteOriginal) {
        capture_->onSamples = [this](std::vector<float> samples) {
            if (onSamples)
                onSamples(std::move(samples));
        };
    }
    ~CaptureSourceProcessTap() override { capture_->stop(); }

    void start() override { capture_->start(muteOriginal_); }
    void stop() override { capture_->stop(); }

  private:
    std::unique_ptr<audio::ProcessTapCapture> capture_;
    const bool muteOriginal_;
};

}  // namespace quenda::live
