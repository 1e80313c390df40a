#pragma once

#include "audio/PulsePlayback.h"
#include "live/SoundPlayer.h"

namespace quenda::live {

// Our own playback stream on the sound server; it follows the own-playback contract, so the
// captures never hear it.
class SoundPlayerPulse : public SoundPlayer {
  public:
    SoundPlayerPulse() : playback_("Tradução falada") {}

    void play(const std::vector<float>& samples, uint32_t sampleRate) override;
    void cancel() override { playback_.cancel(); }

  private:
    audio::PulsePlayback playback_;
};

}  // namespace quenda::live
