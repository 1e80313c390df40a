#pragma once

#include "audio/PulseConnection.h"

#include <pulse/sample.h>
#include <pulse/stream.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace quenda::audio {

// A record stream of one PulseAudio connection. The server converts whatever the source
// produces to `format` (rate, channels, sample type), so the handler always sees exactly that.
//
// Both handlers run on the connection's loop thread and must not block: `onData` for every
// fragment in order (holes in the stream are skipped), `onFailure` once if the stream dies
// (killed, its source removed, the connection lost) while it is meant to run.
class PulseRecordStream {
  public:
    // How much sound the server gathers before it sends a fragment. It is also the latency the
    // stream asks of the server, and PipeWire runs its whole graph (every application's sound)
    // at the smallest latency any stream asks for: 20 ms fragments cut its cycle from 2048 to
    // 512 frames at 48 kHz, four times the wake-ups for everyone and a gap of one cycle in
    // every stream whenever the machine is too busy to keep up. 100 ms leaves the cycle alone;
    // nobody here needs sound sooner (a recording is read when it stops, the live translator
    // cuts six-second chunks).
    static constexpr std::chrono::milliseconds kFragment{100};

    struct Settings {
        std::string name;          // stream name shown by the sound server
        pa_sample_spec format;     // what the handler receives
        std::string device;        // source name; empty for the default source
        bool followDevice = true;  // false: fail instead of moving when the source goes away
    };

    // Connects and waits until the stream runs; throws PulseFailure otherwise.
    PulseRecordStream(PulseConnection& connection, const Settings& settings,
                      std::function<void(const void* data, std::size_t bytes)> onData,
                      std::function<void()> onFailure);
    // Disconnects; no handler runs once it returns.
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

  private:
    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    void disconnect();

    PulseConnection& connection_;
    pa_stream* stream_ = nullptr;
    bool running_ = false;  // loop thread and locked callers only
    std::function<void(const void*, std::size_t)> onData_;
    std::function<void()> onFailure_;
};

}  // namespace quenda::audio
