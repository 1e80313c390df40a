#pragma once

#include "platform/Pasteboard.h"

namespace quenda {

// The desktop clipboard through Qt. The application owns what it puts there and serves it to
// other applications from its event loop for as long as it runs (on X11 the content lives in
// its owner), so the main thread must get back to the event loop for a paste to succeed.
// Needs a QGuiApplication; use from the main thread only.
class PasteboardQt final : public Pasteboard {
  public:
    void setString(const std::string& text) override;
    std::optional<std::string> string() const override;
};

}  // namespace quenda
