#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace quenda::audio {

// Writes a 16-bit PCM WAV file as it goes: the canonical 44-byte header first (with sizes of
// zero, so even an unfinished file is a valid empty recording), then the samples, and on
// finish() the real RIFF and data sizes. Not thread-safe: one writer thread at a time.
class WavFileWriter {
  public:
    // Creates (or truncates) the file; throws std::system_error when it cannot.
    WavFileWriter(const std::filesystem::path& path, uint32_t sampleRate, uint16_t channels);
    // Finishes the file if finish() was not called.
    ~WavFileWriter();
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;

    // Appends little-endian 16-bit samples (whole frames). Returns false when the write failed;
    // the file then still ends at the last complete write.
    bool append(const void* samples, std::size_t bytes);

    // Writes the header sizes and closes the file; returns false when that failed.
    bool finish();

  private:
    std::FILE* file_ = nullptr;
    uint64_t dataBytes_ = 0;
    uint32_t sampleRate_ = 0;
    uint16_t channels_ = 0;
};

}  // namespace quenda::audio
