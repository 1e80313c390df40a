#include "platform/WavHeader.h"

#include <algorithm>

namespace quenda {

char* putLittleEndian16(char* out, uint16_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>(value >> 8);
    return out + 2;
}

char* putLittleEndian32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out + 4;
}

std::array<char, kWavHeaderBytes> makeWavHeader(uint32_t sampleRate, uint16_t channels,
                                                uint32_t dataBytes) {
    std::array<char, kWavHeaderBytes> header{};
    const auto blockAlign = static_cast<uint16_t>(channels * 2);
    char* out = std::copy_n("RIFF", 4, header.data());
    out = putLittleEndian32(out, static_cast<uint32_t>(kWavHeaderBytes - 8 + dataBytes));
    out = std::copy_n("WAVEfmt ", 8, out);
    out = putLittleEndian32(out, 16);  // size of the format block
    out = putLittleEndian16(out, 1);   // PCM
    out = putLittleEndian16(out, channels);
    out = putLittleEndian32(out, sampleRate);
    out = putLittleEndian32(out, sampleRate * blockAlign);  // byte rate
    out = putLittleEndian16(out, blockAlign);
    out = putLittleEndian16(out, 16);  // bits per sample
    out = std::copy_n("data", 4, out);
    putLittleEndian32(out, dataBytes);
    return header;
}

}  // namespace quenda
