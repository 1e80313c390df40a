#include "audio/WavFileWriter.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <system_error>

namespace quenda::audio {

namespace {

constexpr std::size_t kHeaderBytes = 44;
// The RIFF size field is 32 bits; a recording never gets near it, but the header must not lie.
constexpr uint64_t kMaxDataBytes = std::numeric_limits<uint32_t>::max() - (kHeaderBytes - 8);

void put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

WavFileWriter::WavFileWriter(const std::filesystem::path& path, uint32_t sampleRate,
                             uint16_t channels) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_)
        throw std::system_error(errno, std::generic_category(), path.string());
    std::array<uint8_t, kHeaderBytes> header{};
    const uint16_t blockAlign = static_cast<uint16_t>(channels * 2);
    std::copy_n("RIFF", 4, header.begin());
    put32(&header[4], static_cast<uint32_t>(kHeaderBytes - 8));
    std::copy_n("WAVEfmt ", 8, header.begin() + 8);
    put32(&header[16], 16);  // size of the format chunk
    put16(&header[20], 1);   // PCM
    put16(&header[22], channels);
    put32(&header[24], sampleRate);
    put32(&header[28], sampleRate * blockAlign);
    put16(&header[32], blockAlign);
    put16(&header[34], 16);
    std::copy_n("data", 4, header.begin() + 36);
    put32(&header[40], 0);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) {
        const int error = errno;
        std::fclose(file_);
        file_ = nullptr;
        throw std::system_error(error, std::generic_category(), path.string());
    }
}

WavFileWriter::~WavFileWriter() {
    finish();
}

bool WavFileWriter::append(const void* samples, std::size_t bytes) {
    if (!file_ || dataBytes_ + bytes > kMaxDataBytes)
        return false;
    const std::size_t written = std::fwrite(samples, 1, bytes, file_);
    if (written != bytes) {
        // Keep the data size honest: cut the partial write off at the last complete sample.
        dataBytes_ += written - written % 2;
        std::fseek(file_, static_cast<long>(kHeaderBytes + dataBytes_), SEEK_SET);
        return false;
    }
    dataBytes_ += bytes;
    return true;
}

bool WavFileWriter::finish() {
    if (!file_)
        return false;
    std::array<uint8_t, 4> size{};
    bool ok = true;
    put32(size.data(), static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes_));
    ok = ok && std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(size.data(), 1, 4, file_) == 4;
    put32(size.data(), static_cast<uint32_t>(dataBytes_));
    ok = ok && std::fseek(file_, 40, SEEK_SET) == 0 && std::fwrite(size.data(), 1, 4, file_) == 4;
    // Bytes of a failed partial write beyond the data are cut off.
    ok = ok && std::fflush(file_) == 0 &&
         ::ftruncate(fileno(file_), static_cast<off_t>(kHeaderBytes + dataBytes_)) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace quenda::audio
