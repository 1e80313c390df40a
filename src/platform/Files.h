#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quenda::files {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// A uniquely named temporary file beside `target`, "<target>.<kind>-<UUID>" (private to the
// user), removed unless committed. Writing a file this way and committing it replaces `target`
// atomically: readers see the old file or the complete new one, never a mix. `kind` names the
// writer ("write", "copy", "download"), so that each recognises its own files. The file is
// locked while this object holds it, so removeStaleTempFiles never takes it for a leftover.
class SiblingTempFile {
  public:
    SiblingTempFile(const std::filesystem::path& target, std::string_view kind);
    ~SiblingTempFile();
    SiblingTempFile(const SiblingTempFile&) = delete;
    SiblingTempFile& operator=(const SiblingTempFile&) = delete;

    // Set when the file could not be created; nothing else may be called then.
    std::error_code error() const { return error_; }
    int fd() const { return fd_; }
    const std::string& path() const { return name_; }

    std::error_code write(std::string_view bytes);

    // Flushes the file to disk, closes it and renames it over `target`.
    std::error_code commit(const std::filesystem::path& target);

  private:
    std::string name_;
    int fd_ = -1;
    bool committed_ = false;
    std::error_code error_;
};

// Removes the temporary files of `kind` beside `target` that no writer holds any more (left by
// a writer that crashed or lost power; they can be as big as the file). Files of other kinds,
// and those of writers still at work in this or another process, are left alone.
void removeStaleTempFiles(const std::filesystem::path& target, std::string_view kind);

// The whole file as text, or nothing when it cannot be read or is not valid UTF-8.
std::optional<std::string> readUtf8File(const std::filesystem::path& path);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so readers see either the old or the new content, never a mix. Returns the error,
// if any; the old file is left untouched on failure.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The kind of the temporary files copyFileAtomically writes ("<to>.copy-<UUID>").
inline constexpr std::string_view copyTempKind = "copy";

// Copies `from` to `to` through a temporary file beside `to` that is renamed into place only
// when complete, so an interrupted copy never leaves a partial file at `to`. Throws
// std::filesystem::filesystem_error on failure.
void copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// True for a regular file (after following links) that this user may execute.
bool isExecutableFile(const std::filesystem::path& path);

}  // namespace quenda::files
