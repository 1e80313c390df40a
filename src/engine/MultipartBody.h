#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quenda {

// A multipart/form-data request body, built byte for byte in one buffer:
//
//   --B CRLF Content-Disposition: form-data; name="N" CRLF CRLF value CRLF     (each field)
//   --B CRLF Content-Disposition: form-data; name="N"; filename="F" CRLF
//   Content-Type: T CRLF CRLF <file bytes>                                       (the file)
//   CRLF --B-- CRLF                                                              (the end)
//
// The file's bytes are appended straight into the buffer (from memory or from disk), so a
// large file is held in memory once.
class MultipartBody {
  public:
    explicit MultipartBody(std::string boundary);

    const std::string& boundary() const { return boundary_; }
    // The request's Content-Type header value.
    std::string contentType() const;

    void addField(std::string_view name, std::string_view value);
    // Starts the file part; its bytes follow with appendBytes / appendFileContents.
    void beginFile(std::string_view name, std::string_view fileName, std::string_view type);
    void appendBytes(std::string_view bytes);
    // Appends the whole content of a file. Throws std::filesystem::filesystem_error.
    void appendFileContents(const std::filesystem::path& path);
    // Appends the closing delimiter.
    void finish();

    void reserve(size_t bytes) { bytes_.reserve(bytes); }
    const std::string& bytes() const { return bytes_; }

  private:
    std::string boundary_;
    std::string bytes_;
};

}  // namespace quenda
