#include "platform/InMemoryDefaults.h"

#include <mutex>

namespace quenda {

std::optional<std::string> InMemoryDefaults::text(std::string_view key) const {
    std::shared_lock lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    if (const auto* value = std::get_if<std::string>(&found->second))
        return *value;
    return std::nullopt;
}

std::optional<bool> InMemoryDefaults::boolean(std::string_view key) const {
    std::shared_lock lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    if (const auto* value = std::get_if<bool>(&found->second))
        return *value;
    return std::nullopt;
}

void InMemoryDefaults::setText(std::string_view key, std::string_view value) {
    std::unique_lock lock(mutex_);
    values_.insert_or_assign(std::string(key), Value(std::string(value)));
}

void InMemoryDefaults::setBoolean(std::string_view key, bool value) {
    std::unique_lock lock(mutex_);
    values_.insert_or_assign(std::string(key), Value(value));
}

void InMemoryDefaults::remove(std::string_view key) {
    std::unique_lock lock(mutex_);
    if (auto found = values_.find(key); found != values_.end())
        values_.erase(found);
}

}  // namespace quenda
