#pragma once

#include <cstdint>

#include "input/Hotkey.h"

namespace quenda {

// The kinds of event a global key hook hands over, with the values of the reference desktop's
// event taps. Platforms without tap time-outs simply never send the notices.
enum class KeyEventType : uint32_t {
    keyDown = 10,
    keyUp = 11,
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

// What the hotkey watcher does with one key event. A pure function of the event and of
// whether a press is being held, so the whole matching rule can be checked without a
// keyboard.
struct HotkeyDecision {
    enum class Report { none, press, release };

    bool dropEvent = false;  // take the event out of the stream (the focused app never sees it)
    Report report = Report::none;
    bool pressed = false;       // the new value of the "press reported, release not yet" flag
    bool reenableHook = false;  // the system switched the hook off for being slow: turn it back on

    bool operator==(const HotkeyDecision&) const = default;

    // `keyCode` is the event's code in the hotkey's encoding; a value outside 0..65535 (a key
    // that has no code there) never matches.
    static HotkeyDecision forEvent(const Hotkey& hotkey, KeyEventType type, int64_t keyCode,
                                   uint64_t flags, bool pressed);
};

}  // namespace quenda
