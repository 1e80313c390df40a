#pragma once

#include <array>
#include <string>
#include <thread>

#include "input/HotkeyManager.h"

// Xlib's display and event types, declared here so that this header does not bring Xlib's
// macros (None, Bool, Status, ...) into the files that include it.
struct _XDisplay;
union _XEvent;

namespace quenda {

// The global key hook of an X11 session: a passive grab of the combination on the root
// window, on a connection of its own, for every Caps Lock / Num Lock variant, with detectable
// auto-repeat (a held key gives repeated presses and one release). The grab itself takes the
// combination's events away from the focused window. A reader thread translates each key event
// into the hotkey's encoding (Ctrl is Command, Alt is Option, Super is Control, the key's
// keysym gives the key code) and hands it to the handler.
//
// While the combination is held the keyboard belongs to the grab, so keys pressed in that time
// reach this hook instead of the focused window; the handler's "pass on" cannot return them.
class HotkeyManagerX11 final : public HotkeyManager::Backend {
  public:
    // `displayName` empty: the display named by $DISPLAY.
    explicit HotkeyManagerX11(std::string displayName = {});
    ~HotkeyManagerX11() override;

    bool install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) override;
    void remove() override;

  private:
    // Where the modifiers that are not fixed by the core protocol live in the current map.
    struct ModifierMasks {
        unsigned alt = 0;
        unsigned super = 0;
        unsigned numLock = 0;
    };

    // The key code and modifiers of the combination in the current keyboard map.
    struct Grab {
        unsigned char key = 0;  // an X key code; 0: the map has no such key
        unsigned modifiers = 0;
        unsigned numLock = 0;
        bool operator==(const Grab&) const = default;
    };

    // Reads the modifier map into masks_ and finds where the combination sits now.
    Grab locate();
    // Takes the combination where it sits now; false (nothing held) when another client holds
    // it or the map lacks its key or a modifier.
    bool grab();
    void ungrab();
    // After a change of the keyboard map: follows the combination to where it sits now.
    void regrab();
    void run();
    void dispatch(_XEvent& event);

    const std::string displayName_;
    _XDisplay* display_ = nullptr;
    Hotkey hotkey_;
    EventHandler handler_;
    GrabHandler onGrab_;
    ModifierMasks masks_;
    Grab grabbed_;  // key 0 while nothing is grabbed
    std::array<int, 2> wakePipe_{-1, -1};
    std::thread reader_;
};

}  // namespace quenda
