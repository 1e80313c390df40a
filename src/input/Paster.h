#pragma once

#include <string>

#include "input/KeystrokeSynthesizer.h"
#include "platform/Pasteboard.h"

namespace quenda {

// Puts a finished text into the focused application as if the user had pasted it.
class Paster {
  public:
    // Puts `text` on the clipboard (always, before any check), then sends one paste keystroke.
    // True when the keystroke was sent (not a sign that the application accepted it); false
    // when keystrokes may not be sent or could not be made, in which case the text is still on
    // the clipboard for the user to paste by hand. Called on the main thread.
    static bool pasteAtCursor(const std::string& text, Pasteboard& pasteboard,
                              KeystrokeSynthesizer& keystrokes);
};

}  // namespace quenda
