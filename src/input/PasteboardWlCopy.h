#pragma once

#include "platform/Pasteboard.h"

namespace quenda {

// The clipboard of a Wayland session through wl-clipboard's programs. A Wayland compositor
// takes a new clipboard content only from a client that has just had input, so a program
// writing from the background (as a dictation finishing does) cannot use its toolkit's
// clipboard; `wl-copy` offers the text from a small process of its own that stays until
// something else is copied, so the text also outlives Quenda.
//
// The text goes as one argument, so it is limited by the system's longest argument (128 KiB).
class PasteboardWlCopy final : public Pasteboard {
  public:
    void setString(const std::string& text) override;
    std::optional<std::string> string() const override;
};

}  // namespace quenda
