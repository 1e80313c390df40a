#pragma once

#include <X11/Xlib.h>

namespace quenda {

// Catches the protocol errors of one display connection for the life of the object, so that a
// refused request (a key grab another program holds, for example) becomes a return value
// instead of Xlib's default handler, which ends the process. Traps are taken one at a time
// across the whole process; errors of other connections go to the handler that was there
// before.
class X11ErrorTrap {
  public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request sent so far; returns the error code of
    // the first one it refused since the trap was set (or since the last call), 0 when none.
    int sync();

  private:
    static int handle(Display* display, XErrorEvent* error);

    Display* const display_;
    int firstError_ = 0;
    XErrorHandler previous_ = nullptr;
};

}  // namespace quenda
