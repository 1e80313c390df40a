#include "state/KeystrokeSynthesizerXTest.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace quenda {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// The display, when it can be reached and has XTest.
DisplayHandle openWithXTest(const std::string& name) {
    DisplayHandle display(XOpenDisplay(name.empty() ? nullptr : name.c_str()));
    if (!display)
        return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor))
        return nullptr;
    return display;
}

bool isDown(const std::array<char, 32>& keys, KeyCode code) {
    return (keys[code / 8] >> (code % 8)) & 1;
}

std::array<char, 32> keysDown(Display* display) {
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    return keys;
}

// The key that types "v" in the current layout. A layout without a Latin v (Cyrillic, Greek,
// ...) falls back to the key at the V position of a QWERTY board, which applications map to
// their paste shortcut through their Latin fallback.
KeyCode pasteKey(Display* display) {
    if (const KeyCode code = XKeysymToKeycode(display, XK_v))
        return code;
    KeyCode found = 0;
    XkbDescPtr keyboard = XkbGetKeyboard(display, XkbNamesMask, XkbUseCoreKbd);
    if (!keyboard)
        return 0;
    if (keyboard->names && keyboard->names->keys) {
        for (int code = keyboard->min_key_code; code <= keyboard->max_key_code; ++code) {
            if (std::strncmp(keyboard->names->keys[code].name, "AB04", XkbKeyNameLength) == 0) {
                found = static_cast<KeyCode>(code);
                break;
            }
        }
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return found;
}

// The modifier keys (Shift, Ctrl, Alt, Super, AltGr, ...) being held now; lock keys are left
// out, their state does not disturb a shortcut.
std::vector<KeyCode> heldModifierKeys(Display* display) {
    std::vector<KeyCode> held;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map)
        return held;
    const auto keys = keysDown(display);
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == LockMapIndex)
            continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code == 0 || !isDown(keys, code))
                continue;
            const KeySym keysym = XkbKeycodeToKeysym(display, code, 0, 0);
            if (keysym == XK_Num_Lock || keysym == XK_Caps_Lock || keysym == XK_Scroll_Lock ||
                keysym == XK_Shift_Lock)
                continue;
            held.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return held;
}

}  // namespace

KeystrokeSynthesizerXTest::KeystrokeSynthesizerXTest(std::string displayName)
    : displayName_(std::move(displayName)) {}

bool KeystrokeSynthesizerXTest::isTrusted() {
    return openWithXTest(displayName_) != nullptr;
}

bool KeystrokeSynthesizerXTest::postPasteShortcut() {
    const DisplayHandle handle = openWithXTest(displayName_);
    if (!handle)
        return false;
    Display* display = handle.get();
    const KeyCode v = pasteKey(display);
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    if (v == 0 || control == 0)
        return false;

    // A modifier the user still holds (Alt, right after the push-to-talk combination) would
    // turn Ctrl+V into Ctrl+Alt+V, which pastes nothing. Lift the held modifiers for the
    // keystroke and put back afterwards those that actually went up, so that a key the server
    // would not release for us is never left pressed.
    std::vector<KeyCode> lifted = heldModifierKeys(display);
    for (const KeyCode code : lifted)
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
    const auto afterLift = keysDown(display);
    std::erase_if(lifted, [&](KeyCode code) { return isDown(afterLift, code); });

    const bool sent = XTestFakeKeyEvent(display, control, True, CurrentTime) &&
                      XTestFakeKeyEvent(display, v, True, CurrentTime) &&
                      XTestFakeKeyEvent(display, v, False, CurrentTime) &&
                      XTestFakeKeyEvent(display, control, False, CurrentTime);
    for (const KeyCode code : lifted)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    XSync(display, False);
    return sent;
}

}  // namespace quenda
