#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace quenda {

// Hands work to the main thread, where the application state lives. Work posted from any
// thread runs later on the main thread, in the order it was posted.
class MainQueue {
  public:
    virtual ~MainQueue() = default;
    virtual void post(std::function<void()> work) = 0;
};

// A main queue that runs work only when the owner drains it by hand, on the thread that
// drains. Tests use it so that everything handed to the "main thread" runs at a moment they
// choose, without sleeps.
class ManualMainQueue : public MainQueue {
  public:
    void post(std::function<void()> work) override;

    // Runs everything posted so far, and whatever that work posts in turn. Returns how many
    // pieces of work ran.
    size_t drain();

    // Runs posted work as it arrives until `condition` holds (checked after each piece of
    // work) or `timeout` passes. Returns whether the condition held.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

    size_t pendingCount() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> pending_;
};

}  // namespace quenda
