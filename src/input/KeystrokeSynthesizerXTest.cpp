#include "input/KeystrokeSynthesizerXTest.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
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
    // The key that gives "v" in one of the loaded layouts; with a non-Latin layout active
    // (Russian beside English, say) applications still map it to their paste shortcut. A
    // keyboard map without any Latin v has no paste keystroke to offer.
    const KeyCode v = XKeysymToKeycode(display, XK_v);
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
