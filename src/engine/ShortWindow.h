#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quenda::shortwindow {

// The speech model encodes audio in a fixed window of 30 seconds, 50 encoder frames a second,
// however short the audio is. Asking for a window sized to the audio ("audio_ctx" in frames)
// makes a short dictation several times faster; a window too small for what was said makes the
// decoder repeat itself or not stop.
constexpr int kFramesPerSecond = 50;
constexpr int kFullWindow = 30 * kFramesPerSecond;
// Frames added beyond the audio's own length, so that its last word is never at the edge.
constexpr int kMargin = 128;

// The window for `samples` samples at `sampleRate`: their length in frames, rounded up, plus
// the margin, at most the full window. Nothing for audio as long as the full window or longer
// (the server's own window then) or without a rate.
std::optional<int> audioContext(uint64_t samples, uint32_t sampleRate);

// True when a transcript of `seconds` of audio looks like the short window's known failure:
// it ends in the same phrase repeated over and over, it is longer than speech of that length
// can be (the decoder ran on to its token limit), or it is empty though the audio held sound.
// `hadSound` says whether the audio was louder than silence, when the caller measured it;
// unmeasured audio counts as sound from one second on.
bool looksLikeFailure(std::string_view transcript, double seconds, std::optional<bool> hadSound);

}  // namespace quenda::shortwindow
