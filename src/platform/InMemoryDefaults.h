#pragma once

#include <map>
#include <shared_mutex>
#include <variant>

#include "platform/Defaults.h"

namespace quenda {

// A defaults store that lives only as long as the object: for tests, and the standard store
// before the application installs its own.
class InMemoryDefaults : public Defaults {
  public:
    std::optional<std::string> text(std::string_view key) const override;
    std::optional<bool> boolean(std::string_view key) const override;
    void setText(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;
    void remove(std::string_view key) override;

  private:
    using Value = std::variant<std::string, bool>;

    mutable std::shared_mutex mutex_;
    std::map<std::string, Value, std::less<>> values_;
};

}  // namespace quenda
