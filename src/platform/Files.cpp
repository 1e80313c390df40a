#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/Uuid.h"

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

namespace {

std::string tempPrefix(const std::filesystem::path& target, std::string_view kind) {
    return target.filename().string() + "." + std::string(kind) + "-";
}

bool isUuidText(std::string_view text) {
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// True when `fd` is still the file named `path` (no one removed or replaced the name).
bool namesSameFile(int fd, const std::string& path) {
    struct stat opened {
    }, named{};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

SiblingTempFile::SiblingTempFile(const std::filesystem::path& target, std::string_view kind) {
    const auto directory = target.parent_path();
    for (int attempt = 0; attempt < 3; ++attempt) {
        name_ = (directory / (tempPrefix(target, kind) + makeUuidText())).string();
        fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = std::error_code(errno, std::generic_category());
            return;
        }
        // Locked for as long as it is written; a cleaner that found it in the moment between
        // creation and locking may have removed it, so the name is checked once locked.
        const bool locked = ::flock(fd_, LOCK_EX) == 0;
        if (locked && namesSameFile(fd_, name_))
            return;
        if (!locked)
            ::unlink(name_.c_str());
        ::close(std::exchange(fd_, -1));
    }
    error_ = std::make_error_code(std::errc::resource_unavailable_try_again);
}

SiblingTempFile::~SiblingTempFile() {
    // Removed before the lock goes with the descriptor.
    if (!committed_ && !error_)
        ::unlink(name_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
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
    // Renamed while still locked, so that no cleaner can take it for a leftover meanwhile.
    if (::fsync(fd_) != 0 || ::rename(name_.c_str(), target.c_str()) != 0)
        return {errno, std::generic_category()};
    committed_ = true;
    if (::close(std::exchange(fd_, -1)) != 0)
        return {errno, std::generic_category()};
    return {};
}

void removeStaleTempFiles(const std::filesystem::path& target, std::string_view kind) {
    const std::string prefix = tempPrefix(target, kind);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             target.parent_path().empty() ? "." : target.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || !isUuidText(std::string_view(name).substr(prefix.size())))
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A writer holds its lock until it has committed or removed the file.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && namesSameFile(fd, entry.path().string()))
            ::unlink(entry.path().c_str());
        ::close(fd);
    }
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    SiblingTempFile temp(path, "write");
    if (temp.error())
        return temp.error();
    if (auto error = temp.write(bytes))
        return error;
    // Created private to the user; the finished file gets the usual permissions.
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
    SiblingTempFile temp(to, copyTempKind);
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
