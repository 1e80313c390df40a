#include "input/Paster.h"

namespace quenda {

bool Paster::pasteAtCursor(const std::string& text, Pasteboard& pasteboard,
                           KeystrokeSynthesizer& keystrokes) {
    pasteboard.setString(text);
    if (!keystrokes.isTrusted())
        return false;
    return keystrokes.postPasteShortcut();
}

}  // namespace quenda
