#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace quenda {

// A serial work queue with a label: one worker thread runs the submitted work in order.
// Destruction runs whatever is still queued, then joins the worker.
class DispatchQueue {
  public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Queues `work` and returns at once. An exception it throws is written to stderr with the
    // queue's label; the queue goes on with the next piece of work.
    void async(std::function<void()> work);

    // Runs `work` on the queue and waits for it; returns its result or rethrows its exception.
    // Called from the queue's own thread it runs inline instead of deadlocking.
    template <typename Work>
    auto sync(Work&& work) -> std::invoke_result_t<Work&> {
        using Result = std::invoke_result_t<Work&>;
        if (isCurrent())
            return work();
        std::packaged_task<Result()> task(std::forward<Work>(work));
        auto future = task.get_future();
        async([&task] { task(); });
        return future.get();
    }

    // True when called from this queue's worker thread.
    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

  private:
    void run();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace quenda
