#pragma once

#include "audio/SystemAudioCapture.h"
#include "platform/DispatchQueue.h"

#include <mutex>

namespace quenda::audio {

class PulseConnection;
class PulseRecordStream;

// SystemAudioCapture on PulseAudio: a record stream on the monitor of the default sink, in
// the delivered format (the server resamples and mixes down).
class SystemAudioCapturePulse : public SystemAudioCapture {
  public:
    SystemAudioCapturePulse();
    ~SystemAudioCapturePulse() override;

    void start() override;
    void stop() override;

  private:
    void deliver(const void* data, std::size_t bytes);  // loop thread
    void reportFailure();                               // loop thread

    std::mutex mutex_;
    std::unique_ptr<PulseConnection> connection_;
    std::unique_ptr<PulseRecordStream> stream_;
    // Last member: destroyed first, running what is still queued while the rest exists.
    DispatchQueue queue_{"system-audio-capture"};
};

}  // namespace quenda::audio
