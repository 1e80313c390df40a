#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace quenda::paths {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::filesystem::path applicationSupportDirectory() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        std::filesystem::path path(data);
        if (path.is_absolute())
            return path;
    }
    return homeDirectory() / ".local" / "share";
}

std::filesystem::path temporaryDirectory() {
    std::error_code error;
    auto path = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : path;
}

std::filesystem::path executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::optional<std::filesystem::path> resourceDirectory() {
    auto executable = executablePath();
    if (executable.empty())
        return std::nullopt;
    auto directory = (executable.parent_path() / ".." / "share" / "quenda").lexically_normal();
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error))
        return std::nullopt;
    return directory;
}

}  // namespace quenda::paths
