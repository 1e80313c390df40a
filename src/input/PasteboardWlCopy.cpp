#include "input/PasteboardWlCopy.h"

#include <cstdio>
#include <thread>

#include "input/WaylandTools.h"

namespace quenda {

void PasteboardWlCopy::setString(const std::string& text) {
    const auto wlCopy = findProgram("wl-copy");
    if (!wlCopy) {
        std::fprintf(stderr, "quenda: wl-copy is not installed (package wl-clipboard)\n");
        return;
    }
    // wl-copy may return before the compositor has taken its offer; a Ctrl+V sent in that
    // moment would paste the previous content. The compositor serves the new text once it
    // holds it, so wait (briefly) until it does.
    const auto run = runTool(*wlCopy, {"--", text}, std::chrono::seconds(3), ToolOutput::none);
    if (!run || run->status != 0) {
        std::fprintf(stderr, "quenda: wl-copy failed\n");
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (string() != text) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "quenda: the compositor did not take the clipboard text in 3 s\n");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<std::string> PasteboardWlCopy::string() const {
    const auto wlPaste = findProgram("wl-paste");
    if (!wlPaste)
        return std::nullopt;
    const auto run = runTool(*wlPaste, {"--no-newline", "--type", "text"}, std::chrono::seconds(3),
                             ToolOutput::standardOutput);
    if (!run || run->status != 0)
        return std::nullopt;
    return run->output;
}

}  // namespace quenda
