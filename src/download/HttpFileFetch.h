#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "download/DownloadFailure.h"
#include "platform/Files.h"

namespace quenda {

// Streams the body of one HTTP GET into a file, for downloads too large to hold in memory.
namespace HttpFileFetch {

struct Hooks {
    // Called on the fetching thread whenever more of the body has been written: bytes so far
    // and the announced total (0 or less when the server announced none).
    std::function<void(int64_t received, int64_t expected)> onProgress;
    // Polled on the fetching thread (at least about once a second, even while nothing
    // arrives); returning true ends the transfer as cancelled.
    std::function<bool()> isCancelled;
};

// True for an http or https address that parses.
bool isValidAddress(const std::string& address);

// Fetches `address` (following redirects) and appends its body to `file`. Returns nothing once
// the complete body is in the file: a success status, at least one byte, and exactly the
// announced length when one was announced. Anything else (an error status, a body cut short,
// a connection that stays silent for `stallLimit`) is a failure. Blocks until done; the file is
// neither flushed nor committed here.
std::optional<DownloadFailure> fetchToFile(const std::string& address, files::SiblingTempFile& file,
                                           const Hooks& hooks, std::chrono::seconds stallLimit);

}  // namespace HttpFileFetch

}  // namespace quenda
