#include "engine/MultipartBody.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace quenda {

namespace {

[[noreturn]] void throwReadError(const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error("cannot read file", path,
                                            std::error_code(error, std::generic_category()));
}

[[noreturn]] void throwChangedSize(const std::filesystem::path& path) {
    throw std::filesystem::filesystem_error("the file changed size while it was being sent", path,
                                            std::make_error_code(std::errc::io_error));
}

}  // namespace

MultipartBody::MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

MultipartBody::~MultipartBody() {
    if (fd_ >= 0)
        ::close(fd_);
}

MultipartBody::MultipartBody(MultipartBody&& other) noexcept
    : boundary_(std::move(other.boundary_)),
      bytes_(std::move(other.bytes_)),
      fd_(std::exchange(other.fd_, -1)),
      fileSize_(std::exchange(other.fileSize_, 0)),
      filePath_(std::move(other.filePath_)),
      afterFile_(std::move(other.afterFile_)) {}

MultipartBody& MultipartBody::operator=(MultipartBody&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        boundary_ = std::move(other.boundary_);
        bytes_ = std::move(other.bytes_);
        fd_ = std::exchange(other.fd_, -1);
        fileSize_ = std::exchange(other.fileSize_, 0);
        filePath_ = std::move(other.filePath_);
        afterFile_ = std::move(other.afterFile_);
    }
    return *this;
}

std::string MultipartBody::contentType() const {
    return "multipart/form-data; boundary=" + boundary_;
}

void MultipartBody::addField(std::string_view name, std::string_view value) {
    std::string& bytes = tail();
    bytes.append("--").append(boundary_).append("\r\n");
    bytes.append("Content-Disposition: form-data; name=\"").append(name).append("\"\r\n\r\n");
    bytes.append(value).append("\r\n");
}

void MultipartBody::beginFile(std::string_view name, std::string_view fileName,
                              std::string_view type) {
    std::string& bytes = tail();
    bytes.append("--").append(boundary_);
    bytes.append("\r\nContent-Disposition: form-data; name=\"").append(name);
    bytes.append("\"; filename=\"").append(fileName).append("\"\r\n");
    bytes.append("Content-Type: ").append(type).append("\r\n\r\n");
}

void MultipartBody::appendBytes(std::string_view bytes) {
    tail().append(bytes);
}

void MultipartBody::appendFileContents(const std::filesystem::path& path) {
    if (fd_ >= 0)
        throw std::logic_error("a multipart body holds one file's content");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwReadError(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
        ::close(fd);
        throwReadError(path, error);
    }
    fd_ = fd;
    fileSize_ = static_cast<uint64_t>(info.st_size);
    filePath_ = path;
}

void MultipartBody::finish() {
    tail().append("\r\n--").append(boundary_).append("--\r\n");
}

uint64_t MultipartBody::size() const {
    return bytes_.size() + fileSize_ + afterFile_.size();
}

size_t MultipartBody::read(uint64_t offset, std::span<char> buffer) const {
    size_t copied = 0;
    // Copies what `buffer` still has room for of a segment in memory that begins at `start`.
    auto copyFrom = [&](const std::string& segment, uint64_t start) {
        const uint64_t at = offset + copied;
        if (copied == buffer.size() || at < start || at >= start + segment.size())
            return;
        const size_t n = static_cast<size_t>(
            std::min<uint64_t>(segment.size() - (at - start), buffer.size() - copied));
        std::memcpy(buffer.data() + copied, segment.data() + (at - start), n);
        copied += n;
    };
    copyFrom(bytes_, 0);
    const uint64_t fileStart = bytes_.size();
    while (copied < buffer.size() && offset + copied >= fileStart &&
           offset + copied < fileStart + fileSize_) {
        const uint64_t at = offset + copied - fileStart;
        const size_t wanted =
            static_cast<size_t>(std::min<uint64_t>(buffer.size() - copied, fileSize_ - at));
        const ssize_t n = ::pread(fd_, buffer.data() + copied, wanted, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwReadError(filePath_, errno);
        }
        if (n == 0)
            throwChangedSize(filePath_);  // it ended early: it was shortened
        copied += static_cast<size_t>(n);
        // At its announced end the file must end too: bytes added meanwhile would be left out.
        struct stat info {};
        if (at + static_cast<uint64_t>(n) == fileSize_ &&
            (::fstat(fd_, &info) != 0 || static_cast<uint64_t>(info.st_size) != fileSize_))
            throwChangedSize(filePath_);
    }
    copyFrom(afterFile_, fileStart + fileSize_);
    return copied;
}

const std::string& MultipartBody::bytes() const {
    if (fd_ >= 0)
        throw std::logic_error("the body's file content is on disk: read it with read()");
    return bytes_;
}

}  // namespace quenda
