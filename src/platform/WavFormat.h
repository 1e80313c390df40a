#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenda {

// What a RIFF/WAVE file says about its audio, read chunk by chunk (a "LIST" or any other chunk
// may come before "data"; nothing assumes a 44-byte header).
struct WavInfo {
    uint32_t format = 0;  // 1 = integer PCM
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
    uint64_t dataOffset = 0;  // where the samples start in the file
    uint64_t dataBytes = 0;

    double seconds() const {
        return static_cast<double>(dataBytes) / (channels * (bitsPerSample / 8)) / sampleRate;
    }
    // 16 000 Hz, one channel, signed 16-bit integer PCM.
    bool isEngineFormat() const {
        return format == 1 && channels == 1 && sampleRate == 16000 && bitsPerSample == 16;
    }
};

// The description of a well-formed WAV file, or nothing with the reason in `error`: wrong
// magic, a RIFF size that does not match the file, chunks that run past the end, a missing
// "fmt " or "data" chunk, a data size that is not a whole number of frames.
std::optional<WavInfo> parseWav(std::string_view bytes, std::string* error = nullptr);

}  // namespace quenda
