#pragma once

#include <optional>
#include <string>

namespace quenda {

// The desktop's general clipboard, holding plain text.
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    // Replaces the whole content with `text` (UTF-8), the empty text included.
    virtual void setString(const std::string& text) = 0;
    // The plain text on the clipboard; nothing when it holds no text.
    virtual std::optional<std::string> string() const = 0;
};

// A clipboard of this process only, for tests of the code that writes to the clipboard.
class MemoryPasteboard : public Pasteboard {
  public:
    void setString(const std::string& text) override {
        text_ = text;
        ++writes_;
    }
    std::optional<std::string> string() const override { return text_; }
    int writeCount() const { return writes_; }

  private:
    std::optional<std::string> text_;
    int writes_ = 0;
};

}  // namespace quenda
