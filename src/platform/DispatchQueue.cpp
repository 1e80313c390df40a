#include "platform/DispatchQueue.h"

#include <pthread.h>

#include <cstdio>
#include <exception>

namespace quenda {

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { run(); });
}

DispatchQueue::~DispatchQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void DispatchQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void DispatchQueue::run() {
    // Thread names are limited to 15 characters by the kernel.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (pending_.empty())
                return;
            work = std::move(pending_.front());
            pending_.pop_front();
        }
        // Work queued with async() has no caller to hand its failure to: say what failed on
        // which queue, and go on with the next piece of work.
        try {
            work();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "quenda: work on the queue \"%s\" failed: %s\n", label_.c_str(),
                         error.what());
        } catch (...) {
            std::fprintf(stderr, "quenda: work on the queue \"%s\" failed: unknown exception\n",
                         label_.c_str());
        }
    }
}

}  // namespace quenda
