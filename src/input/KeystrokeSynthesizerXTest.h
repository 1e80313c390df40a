#pragma once

#include <string>

#include "input/KeystrokeSynthesizer.h"

namespace quenda {

// Synthetic keystrokes through the XTest extension of an X11 display. Each call opens its own
// short connection, so nothing is shared with other threads or kept while idle.
class KeystrokeSynthesizerXTest final : public KeystrokeSynthesizer {
  public:
    // `displayName` empty: the display named by $DISPLAY.
    explicit KeystrokeSynthesizerXTest(std::string displayName = {});

    bool isTrusted() override;
    bool postPasteShortcut() override;

  private:
    const std::string displayName_;
};

}  // namespace quenda
