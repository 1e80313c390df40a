#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace quenda {

// A multipart/form-data request body, built byte for byte:
//
//   --B CRLF Content-Disposition: form-data; name="N" CRLF CRLF value CRLF     (each field)
//   --B CRLF Content-Disposition: form-data; name="N"; filename="F" CRLF
//   Content-Type: T CRLF CRLF <file bytes>                                       (the file)
//   CRLF --B-- CRLF                                                              (the end)
//
// The bytes are held in memory, except the content of a file added with appendFileContents:
// that stays on disk and is read piece by piece while the body is sent (read), so a large
// audio file is never copied into memory.
class MultipartBody {
  public:
    explicit MultipartBody(std::string boundary);
    ~MultipartBody();
    MultipartBody(MultipartBody&& other) noexcept;
    MultipartBody& operator=(MultipartBody&& other) noexcept;

    const std::string& boundary() const { return boundary_; }
    // The request's Content-Type header value.
    std::string contentType() const;

    void addField(std::string_view name, std::string_view value);
    // Starts the file part; its bytes follow with appendBytes / appendFileContents.
    void beginFile(std::string_view name, std::string_view fileName, std::string_view type);
    void appendBytes(std::string_view bytes);
    // Appends the whole content of a file, as large as it is now: the file is opened here (it
    // may be removed afterwards) and read only by read(). One file per body. A file that has
    // changed size by the time it is read makes read() fail rather than send other bytes than
    // the size announced. Throws std::filesystem::filesystem_error.
    void appendFileContents(const std::filesystem::path& path);
    // Appends the closing delimiter.
    void finish();

    // The whole body's size in bytes.
    uint64_t size() const;
    // Copies the body's bytes from `offset` on into `buffer`, as many as fit, reading the
    // file's part from disk; returns how many it copied (fewer than fit only at the end).
    // Throws std::filesystem::filesystem_error when the file cannot be read or has changed
    // size. Any number of readers may read at once, each with its own offsets.
    size_t read(uint64_t offset, std::span<char> buffer) const;

    void reserve(size_t bytes) { bytes_.reserve(bytes); }
    // The body held in memory: the whole body when no file's content was appended (else
    // std::logic_error; use read).
    const std::string& bytes() const;

  private:
    std::string& tail() { return fd_ < 0 ? bytes_ : afterFile_; }

    std::string boundary_;
    std::string bytes_;      // everything before the file's content (or everything)
    int fd_ = -1;            // the appended file, open for reading
    uint64_t fileSize_ = 0;  // its size when it was appended
    std::filesystem::path filePath_;
    std::string afterFile_;  // everything after the file's content
};

}  // namespace quenda
