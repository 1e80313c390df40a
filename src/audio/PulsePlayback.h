#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct pa_stream pa_stream;

namespace quenda::audio {

class PulseConnection;

// Plays our own sound (the spoken translation) on the default output, following the
// own-playback contract of OwnPlayback.h: its stream is marked, connected only while it plays,
// and an OwnPlaybackActivity is held until the sound has drained.
class PulsePlayback {
  public:
    // `name` is the stream name the sound server shows.
    explicit PulsePlayback(std::string name);
    ~PulsePlayback();
    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    // Plays mono samples (nominally −1…1) at `sampleRate` and returns once they have been
    // played, or soon after cancel(). Throws PulseFailure when the sound server cannot play.
    // One call at a time.
    void play(const std::vector<float>& samples, uint32_t sampleRate);

    // Ends the play() that runs now, dropping what it has not played yet. Any thread. A cancel
    // that comes before play() has begun is not remembered; a caller that may race the start
    // repeats it until its play() has returned (SpeechSynthesizerEspeak does).
    void cancel();

  private:
    const std::string name_;
    // Lock order: connectionMutex_ (guards connection_), then the connection's loop lock
    // (guards stream_).
    std::mutex connectionMutex_;
    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> cancelled_{false};
};

}  // namespace quenda::audio
