#include "input/X11ErrorTrap.h"

#include <atomic>
#include <mutex>

namespace quenda {

namespace {

// Xlib has one error handler per process, so one trap at a time.
std::mutex trapMutex;
std::atomic<X11ErrorTrap*> activeTrap{nullptr};
std::atomic<XErrorHandler> previousHandler{nullptr};

}  // namespace

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display) {
    trapMutex.lock();
    activeTrap = this;
    previous_ = XSetErrorHandler(&X11ErrorTrap::handle);
    previousHandler = previous_;
}

X11ErrorTrap::~X11ErrorTrap() {
    XSync(display_, False);  // errors of our requests still in flight belong to this trap
    XSetErrorHandler(previous_);
    activeTrap = nullptr;
    trapMutex.unlock();
}

int X11ErrorTrap::sync() {
    XSync(display_, False);
    const int error = firstError_;
    firstError_ = 0;
    return error;
}

int X11ErrorTrap::handle(Display* display, XErrorEvent* error) {
    X11ErrorTrap* trap = activeTrap;
    if (trap && display == trap->display_) {
        if (trap->firstError_ == 0)
            trap->firstError_ = error->error_code;
        return 0;
    }
    const XErrorHandler previous = previousHandler;
    return previous ? previous(display, error) : 0;
}

}  // namespace quenda
