#include "input/HotkeyDecision.h"

namespace quenda {

HotkeyDecision HotkeyDecision::forEvent(const Hotkey& hotkey, KeyEventType type, int64_t keyCode,
                                        uint64_t flags, bool pressed) {
    HotkeyDecision passOn;
    passOn.pressed = pressed;
    const bool sameKey = keyCode == hotkey.keyCode;

    switch (type) {
        case KeyEventType::tapDisabledByTimeout:
            passOn.reenableHook = true;
            return passOn;

        case KeyEventType::keyUp:
            // Modifiers are not looked at: releasing Ctrl or Alt before D still ends the press
            // when D comes up.
            if (!sameKey || !pressed)
                return passOn;
            return HotkeyDecision{true, Report::release, false, false};

        case KeyEventType::keyDown:
            if (!sameKey || ((flags ^ hotkey.modifiers) & Hotkey::matchedFlags) != 0)
                return passOn;
            if (pressed)  // auto-repeat while held: swallowed, nothing reported
                return HotkeyDecision{true, Report::none, true, false};
            return HotkeyDecision{true, Report::press, true, false};

        default:
            return passOn;
    }
}

}  // namespace quenda
