#pragma once

// How Quenda keeps its own sound (the spoken translation) out of what it captures.
//
// The contract every playback stream of this application follows:
//
// 1. The stream carries the property "quenda.own-playback" = "1": call markOwnPlayback() on the
//    property list given to pa_stream_new_with_proplist(). ProcessTapCapture never moves a
//    stream that carries it (nor any stream of this process), so our speech stays on the real
//    output, outside the sink whose monitor it records.
// 2. From before the stream is connected until its last sample has been played (drained), the
//    player holds an OwnPlaybackActivity. A plain monitor of the output mixes everything, so
//    SystemAudioCapture cannot separate our speech from other sound: while an activity is held,
//    and for a short tail afterwards (the monitor delivers what was mixed a fragment earlier),
//    it delivers silence of the same length instead of what it captured. The translator thus
//    never hears, and never translates, its own voice; the time line of the samples is kept.
// 3. The stream is connected only while there is something to say (or corked while idle), so
//    that the fallback capture is silenced no longer than needed.
//
// PulsePlayback is a playback stream that follows all three rules.

#include <chrono>

struct pa_proplist;

namespace quenda::audio {

inline constexpr const char* kOwnPlaybackProperty = "quenda.own-playback";
inline constexpr const char* kOwnPlaybackValue = "1";

// How long after the last activity ends the monitor capture stays silenced.
inline constexpr std::chrono::milliseconds kOwnPlaybackTail{400};

// Marks a stream's property list as one of our own playback streams.
void markOwnPlayback(pa_proplist* properties);

// True for a stream marked by markOwnPlayback(), or one that this very process plays.
bool isOwnPlayback(const pa_proplist* properties);

// Held while our own sound may be reaching the output. Any thread; may nest and overlap.
class OwnPlaybackActivity {
  public:
    OwnPlaybackActivity();
    ~OwnPlaybackActivity();
    OwnPlaybackActivity(const OwnPlaybackActivity&) = delete;
    OwnPlaybackActivity& operator=(const OwnPlaybackActivity&) = delete;
};

// True while an OwnPlaybackActivity is held, or within `tail` after the last one ended.
bool ownPlaybackAudible(std::chrono::milliseconds tail = kOwnPlaybackTail);

}  // namespace quenda::audio
