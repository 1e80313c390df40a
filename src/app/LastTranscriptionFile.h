#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quenda {

// The last final text Quenda produced, kept in "ultima_transcricao.txt" inside the "Quenda"
// application-support directory: UTF-8, nothing added before or after it. Shared by the window
// and the command line, which may run at the same time; every write replaces the file whole.
namespace LastTranscriptionFile {

inline constexpr const char* kFileName = "ultima_transcricao.txt";

// The "Quenda" directory in the per-user data directory. Every call creates it when missing
// and copies the last text of earlier versions ("Brevimo/ultima_transcricao.txt") into it
// when there is none yet; failures of either step are ignored.
std::filesystem::path applicationSupportDirectory();

// The saved text, or nothing when the file is missing, unreadable or not valid UTF-8.
std::optional<std::string> read();

// When the saved file exists but cannot be read as UTF-8 text, renames it to
// "ultima_transcricao.txt.ilegivel-<UUID>" beside it, so that the next write does not destroy
// what it holds, and returns the new name. Nothing when there was nothing to set aside.
std::optional<std::filesystem::path> setAsideUnreadable();

// Replaces the saved text atomically. Returns the error, which callers may ignore.
std::error_code write(std::string_view text);

}  // namespace LastTranscriptionFile

}  // namespace quenda
