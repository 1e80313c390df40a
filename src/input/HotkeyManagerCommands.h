#pragma once

#include "input/HotkeyManager.h"

namespace quenda {

// Push-to-talk on a desktop that lets no program watch a key (wlroots compositors): the user
// binds the keys in the desktop to `quenda --ptt-press` and `quenda --ptt-release` (or
// `quenda --toggle`), which reach the running instance over the session bus. This hook holds
// nothing and reports nothing; it only counts as installed, so the window does not warn about
// a shortcut that works through those commands.
class HotkeyManagerCommands final : public HotkeyManager::Backend {
  public:
    bool install(const Hotkey&, EventHandler, GrabHandler) override { return true; }
    void remove() override {}
};

}  // namespace quenda
