#include "input/PasteboardWlCopy.h"

#include <cstdio>

#include "input/WaylandTools.h"

namespace quenda {

void PasteboardWlCopy::setString(const std::string& text) {
    const auto wlCopy = findProgram("wl-copy");
    if (!wlCopy) {
        std::fprintf(stderr, "quenda: wl-copy is not installed (package wl-clipboard)\n");
        return;
    }
    // wl-copy returns once the compositor holds the new offer, so a paste right after finds it.
    runTool(*wlCopy, {"--", text}, std::chrono::seconds(3));
}

std::optional<std::string> PasteboardWlCopy::string() const {
    const auto wlPaste = findProgram("wl-paste");
    if (!wlPaste)
        return std::nullopt;
    const auto run =
        runTool(*wlPaste, {"--no-newline", "--type", "text"}, std::chrono::seconds(3), true);
    if (!run || run->status != 0)
        return std::nullopt;
    return run->output;
}

}  // namespace quenda
