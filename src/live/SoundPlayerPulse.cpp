#include "live/SoundPlayerPulse.h"

#include <stdexcept>

#include "audio/PulseConnection.h"

namespace quenda::live {

void SoundPlayerPulse::play(const std::vector<float>& samples, uint32_t sampleRate) {
    try {
        playback_.play(samples, sampleRate);
    } catch (const audio::PulseFailure& failure) {
        throw std::runtime_error(std::string("não foi possível tocar a tradução falada (") +
                                 failure.what() + ")");
    }
}

}  // namespace quenda::live
