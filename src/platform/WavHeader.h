#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quenda {

// The canonical 44-byte header of a 16-bit PCM WAV file: "RIFF" size, "WAVE", a 16-byte "fmt "
// block and the "data" size, all little-endian. It is the header of the engine's input format
// (16 000 Hz, one channel), whether recorded to a file or built in memory.
inline constexpr std::size_t kWavHeaderBytes = 44;

std::array<char, kWavHeaderBytes> makeWavHeader(uint32_t sampleRate, uint16_t channels,
                                                uint32_t dataBytes);

// Writes `value` little-endian at `out` and returns the position after it.
char* putLittleEndian16(char* out, uint16_t value);
char* putLittleEndian32(char* out, uint32_t value);

}  // namespace quenda
