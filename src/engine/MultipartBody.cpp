#include "engine/MultipartBody.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quenda {

namespace {

[[noreturn]] void throwReadError(const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error("cannot read file", path,
                                            std::error_code(error, std::generic_category()));
}

}  // namespace

MultipartBody::MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

std::string MultipartBody::contentType() const {
    return "multipart/form-data; boundary=" + boundary_;
}

void MultipartBody::addField(std::string_view name, std::string_view value) {
    bytes_.append("--").append(boundary_).append("\r\n");
    bytes_.append("Content-Disposition: form-data; name=\"").append(name).append("\"\r\n\r\n");
    bytes_.append(value).append("\r\n");
}

void MultipartBody::beginFile(std::string_view name, std::string_view fileName,
                              std::string_view type) {
    bytes_.append("--").append(boundary_);
    bytes_.append("\r\nContent-Disposition: form-data; name=\"").append(name);
    bytes_.append("\"; filename=\"").append(fileName).append("\"\r\n");
    bytes_.append("Content-Type: ").append(type).append("\r\n\r\n");
}

void MultipartBody::appendBytes(std::string_view bytes) {
    bytes_.append(bytes);
}

void MultipartBody::appendFileContents(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwReadError(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        bytes_.reserve(bytes_.size() + static_cast<size_t>(info.st_size) + boundary_.size() + 8);
    // Read straight into the buffer's spare room. Once it is full, further bytes (the file grew
    // meanwhile) go through a small buffer, so reaching the end never reallocates the body.
    for (;;) {
        const size_t used = bytes_.size();
        const size_t room = bytes_.capacity() - used;
        ssize_t n;
        int error = 0;
        if (room > 0) {
            bytes_.resize(bytes_.capacity());
            n = ::read(fd, bytes_.data() + used, room);
            error = errno;
            bytes_.resize(used + (n > 0 ? static_cast<size_t>(n) : 0));
        } else {
            char chunk[65536];
            n = ::read(fd, chunk, sizeof chunk);
            error = errno;
            if (n > 0)
                bytes_.append(chunk, static_cast<size_t>(n));
        }
        if (n == 0)
            break;
        if (n < 0 && error != EINTR) {
            ::close(fd);
            throwReadError(path, error);
        }
    }
    ::close(fd);
}

void MultipartBody::finish() {
    bytes_.append("\r\n--").append(boundary_).append("--\r\n");
}

}  // namespace quenda
