#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/MainQueue.h"

class QObject;

namespace quenda {

// The main queue of the windowed application: posted work runs on the thread of the Qt event
// loop (the thread that creates this object), in the order it was posted.
//
// It can start held: work posted before release() is kept and handed to the event loop, in
// order, when release() is called (the application releases it once its window exists, so
// that nothing reports to a window that is not there yet). Work still waiting when the queue
// is destroyed is dropped.
class MainQueueQt : public MainQueue {
  public:
    enum class Start { running, held };

    // Create it on the main thread; a QCoreApplication must exist before work is run.
    explicit MainQueueQt(Start start = Start::running);
    ~MainQueueQt() override;
    MainQueueQt(const MainQueueQt&) = delete;
    MainQueueQt& operator=(const MainQueueQt&) = delete;

    void post(std::function<void()> work) override;

    // Hands everything held so far to the event loop and stops holding. Safe from any thread;
    // a second call does nothing.
    void release();

  private:
    void enqueueLocked(std::function<void()> work);

    std::mutex mutex_;
    bool held_;
    std::deque<std::function<void()>> heldWork_;
    // Lives on the main thread; queued calls addressed to it run there and are discarded
    // with it.
    QObject* receiver_;
};

}  // namespace quenda
