// The two pure helpers of the live translator: a chunk as an in-memory WAV file, and a
// transcript cleaned of the recogniser's non-speech markers.
#include <algorithm>
#include <array>
#include <cmath>

#include "live/LiveTranslator.h"
#include "platform/Text.h"
#include "platform/WavHeader.h"

namespace quenda::live {

namespace {

// Below 1.0: max(s, −1) × 32 767, truncated toward zero; 1.0 and above, and NaN: 32 767.
int16_t toPCM16(float sample) {
    if (!(sample < 1.0f))
        return 32767;
    return static_cast<int16_t>(std::max(sample, -1.0f) * 32767.0f);
}

// Removed in this order, matched exactly (case-sensitive).
constexpr std::array<std::string_view, 6> kArtifacts = {"[BLANK_AUDIO]", "[MUSIC]",  "[Música]",
                                                        "(música)",      "[música]", "\u266A"};

// One pass, left to right: a marker that only forms once another is gone stays.
std::string removeAll(const std::string& text, std::string_view marker) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, from)) {
        out.append(text, from, at - from);
        from = at + marker.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

}  // namespace

std::string LiveTranslator::wavData(std::span<const float> samples, uint32_t sampleRate) {
    const auto dataSize = static_cast<uint32_t>(samples.size() * 2);
    std::string wav(kWavHeaderBytes + std::size_t{dataSize}, '\0');
    const auto header = makeWavHeader(sampleRate, 1, dataSize);
    char* out = std::copy(header.begin(), header.end(), wav.data());
    for (float sample : samples)
        out = putLittleEndian16(out, static_cast<uint16_t>(toPCM16(sample)));
    return wav;
}

std::string LiveTranslator::stripArtifacts(std::string_view text) {
    std::string cleaned(text);
    for (std::string_view marker : kArtifacts)
        cleaned = removeAll(cleaned, marker);
    // White space and line breaks at both ends; the inner text stays as it is.
    return text::trimWhitespace(cleaned);
}

}  // namespace quenda::live
