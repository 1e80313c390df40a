#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>

namespace quenda::files {

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        char32_t value, minimum;
        if ((byte & 0xE0) == 0xC0) {
            length = 2, value = byte & 0x1F, minimum = 0x80;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3, value = byte & 0x0F, minimum = 0x800;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4, value = byte & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::optional<std::string> readUtf8File(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::ostringstream content;
    content << stream.rdbuf();
    if (stream.bad())
        return std::nullopt;
    std::string text = std::move(content).str();
    if (!isValidUtf8(text))
        return std::nullopt;
    return text;
}

SiblingTempFile::SiblingTempFile(const std::filesystem::path& target) {
    name_ = target.string() + ".tmp-XXXXXX";
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0)
        error_ = std::error_code(errno, std::generic_category());
}

SiblingTempFile::~SiblingTempFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !error_)
        ::unlink(name_.c_str());
}

std::error_code SiblingTempFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return {errno, std::generic_category()};
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return {};
}

std::error_code SiblingTempFile::commit(const std::filesystem::path& target) {
    if (::fsync(fd_) != 0 || ::close(std::exchange(fd_, -1)) != 0) {
        return {errno, std::generic_category()};
    }
    if (::rename(name_.c_str(), target.c_str()) != 0)
        return {errno, std::generic_category()};
    committed_ = true;
    return {};
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    SiblingTempFile temp(path);
    if (temp.error())
        return temp.error();
    if (auto error = temp.write(bytes))
        return error;
    // mkostemp creates the file private to the user; give it the usual permissions.
    ::fchmod(temp.fd(), 0644);
    return temp.commit(path);
}

void copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
    auto fail = [&](std::error_code error) {
        throw std::filesystem::filesystem_error("cannot copy file", from, to, error);
    };
    int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        fail({errno, std::generic_category()});
    SiblingTempFile temp(to);
    std::error_code error = temp.error();
    char buffer[1 << 16];
    while (!error) {
        ssize_t n = ::read(source, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = {errno, std::generic_category()};
            break;
        }
        error = temp.write({buffer, static_cast<size_t>(n)});
    }
    ::close(source);
    if (!error) {
        ::fchmod(temp.fd(), 0644);
        error = temp.commit(to);
    }
    if (error)
        fail(error);
}

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace quenda::files
