#pragma once

#include <filesystem>
#include <optional>

namespace quenda::paths {

// The user's home directory ($HOME, else the password database).
std::filesystem::path homeDirectory();

// The per-user data directory that plays the role of "Application Support":
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path applicationSupportDirectory();

// The directory for temporary files.
std::filesystem::path temporaryDirectory();

// The running executable's own location.
std::filesystem::path executablePath();

// <executable dir>/../share/quenda when that directory exists: programs and data shipped
// with the application.
std::optional<std::filesystem::path> resourceDirectory();

}  // namespace quenda::paths
