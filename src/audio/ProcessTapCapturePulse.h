#pragma once

#include "audio/MovedStreamsFile.h"
#include "audio/ProcessTapCapture.h"
#include "platform/DispatchQueue.h"

#include <cstdint>
#include <string>

namespace quenda::audio {

class PulseConnection;
class PulseRecordStream;
namespace queries {
struct SinkInput;
}

// ProcessTapCapture on PulseAudio. start() creates a null sink "Quenda-Capture", moves the
// playback streams of the other applications to it (and every such stream that appears
// later), and records its monitor; without muting, a loopback from that monitor to the real
// output keeps them audible. Our own playback streams, and the server's own streams (such as
// that loopback), stay where they are.
//
// Each moved stream's original sink is written to a MovedStreamsFile before it is moved. stop()
// moves every stream on the capture sink back and unloads what start() loaded; start() first
// does the same for a capture sink left behind by a run that died, using that run's file.
//
// start(), stop() and the handling of new streams run one at a time on a private queue.
class ProcessTapCapturePulse : public ProcessTapCapture {
  public:
    static constexpr const char* kSinkName = "Quenda-Capture";

    explicit ProcessTapCapturePulse(
        std::filesystem::path movedStreamsFile = MovedStreamsFile::defaultPath());
    ~ProcessTapCapturePulse() override;

    void start(bool muteOriginal) override;
    void stop() override;

    // Gives back the streams a run that died left on the capture sink, and removes that sink,
    // without starting a capture. Nothing happens when no run left anything behind.
    static void giveBackLeftovers(
        const std::filesystem::path& movedStreamsFile = MovedStreamsFile::defaultPath());

  private:
    // On controlQueue_.
    void startNow(bool muteOriginal);
    void stopNow();
    void adoptNewStream(uint32_t index);
    static bool isApplicationStream(const queries::SinkInput& stream);
    bool shouldMove(const queries::SinkInput& stream) const;
    void moveToCapture(const queries::SinkInput& stream);
    // Puts every stream on the capture sink back (to `moved`, else to `fallbackSink`) and
    // unloads the capture sink and its loopbacks, if they exist.
    void restoreAndRemove(PulseConnection& connection, const MovedStreamsFile::Streams& moved,
                          std::string fallbackSink);
    // Loop thread.
    void deliver(const void* data, std::size_t bytes);

    const MovedStreamsFile movedFile_;
    // State of controlQueue_.
    std::unique_ptr<PulseConnection> connection_;
    std::unique_ptr<PulseRecordStream> stream_;
    bool running_ = false;
    std::string outputSink_;
    uint32_t captureSink_ = UINT32_MAX;
    MovedStreamsFile::Streams moved_;
    // Last members: destroyed first, running what is still queued while the rest exists.
    DispatchQueue deliveryQueue_{"process-tap-capture"};
    DispatchQueue controlQueue_{"process-tap-control"};
};

}  // namespace quenda::audio
