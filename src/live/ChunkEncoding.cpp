// The two pure helpers of the live translator: a chunk as an in-memory WAV file, and a
// transcript cleaned of the recogniser's non-speech markers.
#include <algorithm>
#include <array>
#include <cmath>

#include "live/LiveTranslator.h"

namespace quenda::live {

namespace {

// Little-endian writes into a buffer that is already large enough.
char* putU16(char* out, uint16_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8);
    return out + 2;
}

char* putU32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out + 4;
}

char* putText(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

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

// White space and line breaks, Unicode's as well as ASCII's, in their UTF-8 forms.
constexpr std::array<std::string_view, 25> kBlanks = {
    " ",      "\t",     "\n",     "\r",     "\v",     "\f",     "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

std::size_t blankPrefix(std::string_view text) {
    for (auto blank : kBlanks)
        if (text.starts_with(blank))
            return blank.size();
    return 0;
}

std::size_t blankSuffix(std::string_view text) {
    for (auto blank : kBlanks)
        if (text.ends_with(blank))
            return blank.size();
    return 0;
}

}  // namespace

std::string LiveTranslator::wavData(std::span<const float> samples, uint32_t sampleRate) {
    const auto dataSize = static_cast<uint32_t>(samples.size() * 2);
    std::string wav(44 + std::size_t{dataSize}, '\0');
    char* out = wav.data();
    out = putText(out, "RIFF");
    out = putU32(out, 36 + dataSize);
    out = putText(out, "WAVE");
    out = putText(out, "fmt ");
    out = putU32(out, 16);  // format block size
    out = putU16(out, 1);   // PCM
    out = putU16(out, 1);   // one channel
    out = putU32(out, sampleRate);
    out = putU32(out, sampleRate * 2);  // byte rate
    out = putU16(out, 2);               // block align
    out = putU16(out, 16);              // bits per sample
    out = putText(out, "data");
    out = putU32(out, dataSize);
    for (float sample : samples)
        out = putU16(out, static_cast<uint16_t>(toPCM16(sample)));
    return wav;
}

std::string LiveTranslator::stripArtifacts(std::string_view text) {
    std::string cleaned(text);
    for (std::string_view marker : kArtifacts)
        cleaned = removeAll(cleaned, marker);
    // White space and line breaks at both ends; the inner text stays as it is.
    std::string_view rest = cleaned;
    while (auto n = blankPrefix(rest))
        rest.remove_prefix(n);
    while (auto n = blankSuffix(rest))
        rest.remove_suffix(n);
    return std::string(rest);
}

}  // namespace quenda::live
