#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace quenda {

// The three languages of the user interface. The raw value is what the settings store holds
// ("pt-BR", "en", "es"); the display name is shown in the language picker and never translated.
class AppLanguage {
  public:
    enum Value { pt, en, es };

    constexpr AppLanguage(Value value) : value_(value) {}

    // The language whose raw value is exactly `raw` (case-sensitive), or nothing.
    static std::optional<AppLanguage> fromRawValue(std::string_view raw);

    // Every language, in picker order: Portuguese (Brazil), English, Spanish.
    static const std::array<AppLanguage, 3>& allCases();

    std::string_view rawValue() const;
    std::string_view displayName() const;

    constexpr Value value() const { return value_; }
    constexpr bool operator==(const AppLanguage&) const = default;

  private:
    Value value_;
};

}  // namespace quenda

template <>
struct std::hash<quenda::AppLanguage> {
    size_t operator()(const quenda::AppLanguage& language) const noexcept {
        return static_cast<size_t>(language.value());
    }
};
