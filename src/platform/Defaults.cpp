#include "platform/Defaults.h"

#include <mutex>
#include <utility>

#include "platform/InMemoryDefaults.h"

namespace quenda {

namespace {

struct StandardStore {
    std::mutex mutex;
    std::shared_ptr<Defaults> store = std::make_shared<InMemoryDefaults>();
};

StandardStore& standardStore() {
    static StandardStore instance;
    return instance;
}

}  // namespace

std::shared_ptr<Defaults> standardDefaults() {
    auto& standard = standardStore();
    std::lock_guard lock(standard.mutex);
    return standard.store;
}

std::shared_ptr<Defaults> installStandardDefaults(std::shared_ptr<Defaults> store) {
    if (!store)
        store = std::make_shared<InMemoryDefaults>();
    auto& standard = standardStore();
    std::lock_guard lock(standard.mutex);
    return std::exchange(standard.store, std::move(store));
}

}  // namespace quenda
