#pragma once

#include <memory>

#include "platform/Defaults.h"
#include "platform/InMemoryDefaults.h"

namespace quenda::test {

// Installs a fresh in-memory standard defaults store for the life of the object.
class ScopedDefaults {
  public:
    ScopedDefaults() : previous_(installStandardDefaults(store_)) {}
    ~ScopedDefaults() { installStandardDefaults(previous_); }
    ScopedDefaults(const ScopedDefaults&) = delete;
    ScopedDefaults& operator=(const ScopedDefaults&) = delete;

    InMemoryDefaults& store() { return *store_; }

  private:
    std::shared_ptr<InMemoryDefaults> store_ = std::make_shared<InMemoryDefaults>();
    std::shared_ptr<Defaults> previous_;
};

}  // namespace quenda::test
