#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/Defaults.h"

class QSettings;

namespace quenda {

// The persistent defaults store of the windowed application, kept by QSettings in an INI file
// (by default ~/.config/Quenda/Quenda.conf). Every change is written to disk at once, so a
// crash loses no setting.
//
// The file holds plain words: a boolean is stored as "true" or "false", and only those two
// words read as a boolean. A text value is any other stored word; a key written as a boolean
// reads as no text.
class DefaultsQt : public Defaults {
  public:
    // The user's own store.
    DefaultsQt();
    // A store kept in `file` (tests use a temporary one).
    explicit DefaultsQt(const std::filesystem::path& file);
    ~DefaultsQt() override;

    std::optional<std::string> text(std::string_view key) const override;
    std::optional<bool> boolean(std::string_view key) const override;
    void setText(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;
    void remove(std::string_view key) override;

  private:
    // One QSettings object may not be used by two threads at once.
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace quenda
