#pragma once

#include <cstdint>
#include <vector>

namespace quenda::live {

// Plays this application's own sound on the output, in a way that our captures never pick up.
class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;

    // Plays mono samples (nominally −1…1) at `sampleRate`; returns once they have been played,
    // or soon after cancel(). Throws an exception whose what() says why it cannot play.
    // One call at a time.
    virtual void play(const std::vector<float>& samples, uint32_t sampleRate) = 0;
    // Ends the play() that runs now, dropping what it has not played yet. Any thread.
    virtual void cancel() = 0;
};

}  // namespace quenda::live
