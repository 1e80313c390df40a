#include "platform/MainQueue.h"

namespace quenda {

void ManualMainQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    posted_.notify_all();
}

size_t ManualMainQueue::drain() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty())
                return ran;
            work = std::move(pending_.front());
            pending_.pop_front();
        }
        work();
        ++ran;
    }
}

bool ManualMainQueue::runUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        drain();
        if (condition())
            return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !pending_.empty(); })) {
            lock.unlock();
            drain();
            return condition();
        }
    }
}

size_t ManualMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

}  // namespace quenda
