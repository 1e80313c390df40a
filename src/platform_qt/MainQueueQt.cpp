#include "platform_qt/MainQueueQt.h"

#include <QMetaObject>
#include <QObject>

namespace quenda {

MainQueueQt::MainQueueQt(Start start) : held_(start == Start::held), receiver_(new QObject) {}

MainQueueQt::~MainQueueQt() {
    std::lock_guard lock(mutex_);
    // Deleting the receiver discards the calls still queued for it.
    delete receiver_;
    receiver_ = nullptr;
    heldWork_.clear();
}

void MainQueueQt::post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (held_) {
        heldWork_.push_back(std::move(work));
        return;
    }
    enqueueLocked(std::move(work));
}

void MainQueueQt::release() {
    std::lock_guard lock(mutex_);
    if (!held_)
        return;
    held_ = false;
    // Under the lock, so that work posted meanwhile cannot overtake the held work.
    while (!heldWork_.empty()) {
        enqueueLocked(std::move(heldWork_.front()));
        heldWork_.pop_front();
    }
}

void MainQueueQt::enqueueLocked(std::function<void()> work) {
    if (!receiver_)
        return;
    QMetaObject::invokeMethod(receiver_, std::move(work), Qt::QueuedConnection);
}

}  // namespace quenda
