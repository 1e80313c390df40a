#pragma once

namespace quenda {

// Sends synthetic keystrokes to whatever application has the keyboard focus.
class KeystrokeSynthesizer {
  public:
    virtual ~KeystrokeSynthesizer() = default;
    // Whether this program may send keystrokes to other applications (on X11: the display is
    // reachable and has the XTest extension).
    virtual bool isTrusted() = 0;
    // One press and release of the paste shortcut (Ctrl+V) with no other modifier in effect,
    // whatever keys the user is holding. False when the keystroke could not be made or sent.
    virtual bool postPasteShortcut() = 0;
};

}  // namespace quenda
