#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace quenda {

// Why a model download did not put a file in place, with the Portuguese sentence shown to the
// user (never a library code on its own).
struct DownloadFailure {
    enum class Kind {
        cancelled,
        invalidAddress,
        hostNotFound,
        connectionRefused,
        cannotConnect,
        connectionLost,
        stalled,
        secureConnection,
        tooManyRedirects,
        httpStatus,
        emptyBody,
        cannotWrite,
        other,
    };

    Kind kind = Kind::other;
    // The server's status, for httpStatus.
    long httpStatus = 0;
    // The file or folder that could not be written, and why, for cannotWrite.
    std::filesystem::path path;
    std::error_code fileError;
    // The transport's own words, for other.
    std::string detail;

    static DownloadFailure of(Kind kind);
    static DownloadFailure status(long code);
    static DownloadFailure writing(std::filesystem::path path, std::error_code error);

    std::string description() const;
};

}  // namespace quenda
