#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quenda::files {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The whole file as text, or nothing when it cannot be read or is not valid UTF-8.
std::optional<std::string> readUtf8File(const std::filesystem::path& path);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so readers see either the old or the new content, never a mix. Returns the error,
// if any; the old file is left untouched on failure.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Copies `from` to `to` through a temporary file beside `to` that is renamed into place only
// when complete, so an interrupted copy never leaves a partial file at `to`. Throws
// std::filesystem::filesystem_error on failure.
void copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// True for a regular file (after following links) that this user may execute.
bool isExecutableFile(const std::filesystem::path& path);

}  // namespace quenda::files
