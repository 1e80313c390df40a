#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenda {

// The per-user defaults store: small settings kept between runs, as text or boolean values by
// key. A key that holds nothing, or a value of the other kind, reads as nothing, so callers
// can tell an absent setting from a stored one. Every member is safe to call from any thread.
class Defaults {
  public:
    virtual ~Defaults() = default;

    virtual std::optional<std::string> text(std::string_view key) const = 0;
    virtual std::optional<bool> boolean(std::string_view key) const = 0;

    virtual void setText(std::string_view key, std::string_view value) = 0;
    virtual void setBoolean(std::string_view key, bool value) = 0;
    virtual void remove(std::string_view key) = 0;
};

// The process's standard store, the one the application's settings live in. The application
// installs its persistent store at start-up; until then (and in tests that install nothing)
// a private in-memory store is used. Safe to call from any thread.
std::shared_ptr<Defaults> standardDefaults();

// Makes `store` the standard store and returns the one it replaces. Passing nothing goes back
// to a fresh in-memory store.
std::shared_ptr<Defaults> installStandardDefaults(std::shared_ptr<Defaults> store);

}  // namespace quenda
