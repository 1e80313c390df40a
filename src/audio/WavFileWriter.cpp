#include "audio/WavFileWriter.h"

#include "platform/WavHeader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <system_error>

namespace quenda::audio {

namespace {

// The RIFF size field is 32 bits; a recording never gets near it, but the header must not lie.
constexpr uint64_t kMaxDataBytes = std::numeric_limits<uint32_t>::max() - (kWavHeaderBytes - 8);

}  // namespace

WavFileWriter::WavFileWriter(const std::filesystem::path& path, uint32_t sampleRate,
                             uint16_t channels)
    : sampleRate_(sampleRate), channels_(channels) {
    // Readable by the user alone: recordings are the user's words.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0 && !(file_ = ::fdopen(fd, "wb")))
        ::close(fd);
    if (!file_)
        throw std::system_error(errno, std::generic_category(), path.string());
    // Sizes of zero until finish(): even an unfinished file is a valid empty recording.
    const auto header = makeWavHeader(sampleRate, channels, 0);
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
        std::fseek(file_, static_cast<long>(kWavHeaderBytes + dataBytes_), SEEK_SET);
        return false;
    }
    dataBytes_ += bytes;
    return true;
}

bool WavFileWriter::finish() {
    if (!file_)
        return false;
    const auto header = makeWavHeader(sampleRate_, channels_, static_cast<uint32_t>(dataBytes_));
    bool ok = std::fseek(file_, 0, SEEK_SET) == 0 &&
              std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    // Bytes of a failed partial write beyond the data are cut off.
    ok = ok && std::fflush(file_) == 0 &&
         ::ftruncate(fileno(file_), static_cast<off_t>(kWavHeaderBytes + dataBytes_)) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace quenda::audio
