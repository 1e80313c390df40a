#pragma once

#include <filesystem>

namespace quenda {

// A temporary file owned by this object: removed when the object is destroyed, and also by
// removeTemporaryFilesNow() when the process is being ended by a signal. The file itself is
// created by whoever writes it; this object only owns the name.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path);
    ~TemporaryFile();
    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    void reset();

    std::filesystem::path path_;
    int slot_ = -1;
};

// Removes every file currently owned by a TemporaryFile. Async-signal-safe: meant for a signal
// handler that ends the process at once (destructors do not run then).
void removeTemporaryFilesNow();

}  // namespace quenda
