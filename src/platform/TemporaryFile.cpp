#include "platform/TemporaryFile.h"

#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <system_error>
#include <utility>

namespace quenda {

namespace {

// A fixed table of the names to remove on a signal: a handler may neither allocate nor lock,
// so slots are claimed and released with atomic state changes only.
enum SlotState : int { kFree = 0, kWriting = 1, kReady = 2, kRemoving = 3 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

std::array<Slot, 64> slots;

int claimSlot(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.size() >= PATH_MAX)
        return -1;
    for (size_t i = 0; i < slots.size(); ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kWriting)) {
            std::memcpy(slots[i].path, text.c_str(), text.size() + 1);
            slots[i].state.store(kReady);
            return static_cast<int>(i);
        }
    }
    // More temporary files at once than the table holds: this one is only removed normally.
    return -1;
}

void releaseSlot(int index) {
    if (index < 0)
        return;
    auto& state = slots[static_cast<size_t>(index)].state;
    for (;;) {
        int expected = kReady;
        // A signal handler on another thread may be removing the file right now: wait for it.
        if (state.compare_exchange_weak(expected, kFree) || expected != kRemoving)
            return;
    }
}

}  // namespace

TemporaryFile::TemporaryFile(std::filesystem::path path)
    : path_(std::move(path)), slot_(claimSlot(path_)) {}

TemporaryFile::~TemporaryFile() {
    reset();
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : path_(std::move(other.path_)), slot_(std::exchange(other.slot_, -1)) {
    other.path_.clear();
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
    if (this != &other) {
        reset();
        path_ = std::move(other.path_);
        slot_ = std::exchange(other.slot_, -1);
        other.path_.clear();
    }
    return *this;
}

void TemporaryFile::reset() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    releaseSlot(slot_);
    slot_ = -1;
    path_.clear();
}

void removeTemporaryFilesNow() {
    for (auto& slot : slots) {
        int expected = kReady;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) {
            ::unlink(slot.path);
            slot.state.store(kReady);
        }
    }
}

}  // namespace quenda
