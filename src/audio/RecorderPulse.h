#pragma once

#include "audio/Recorder.h"

#include <mutex>

namespace quenda::audio {

class PulseConnection;
class PulseRecordStream;
class WavFileWriter;

// Recorder on PulseAudio: a record stream on the default source in the target format (the
// server resamples and mixes down), written to the file on the connection's loop thread.
class RecorderPulse : public Recorder {
  public:
    RecorderPulse();
    ~RecorderPulse() override;

    void requestPermission(std::function<void(bool granted)> completion) override;
    void start() override;
    std::optional<std::filesystem::path> stop() override;
    bool isRecording() const override;
    std::optional<std::filesystem::path> outputURL() const override;

  private:
    // Everything one recording owns; destroyed in reverse order: stream, then writer.
    struct Session;

    mutable std::mutex mutex_;
    std::unique_ptr<Session> session_;
    std::optional<std::filesystem::path> outputURL_;
};

}  // namespace quenda::audio
