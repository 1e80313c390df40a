#pragma once

#include "input/KeystrokeSynthesizer.h"

namespace quenda {

// Synthetic keystrokes on a wlroots compositor (sway, Hyprland, ...) through the `wtype`
// program, which speaks the virtual-keyboard protocol. KWin and mutter do not offer that
// protocol (wtype then fails and the paste is left to the user).
class KeystrokeSynthesizerWtype final : public KeystrokeSynthesizer {
  public:
    // True when a Wayland display is named and wtype is installed.
    bool isTrusted() override;
    // Ctrl+V with wtype's own keyboard, whose only modifier is the Ctrl it presses.
    bool postPasteShortcut() override;
};

}  // namespace quenda
