#include "input/KeystrokeSynthesizerWtype.h"

#include <cstdlib>

#include "input/WaylandTools.h"

namespace quenda {

bool KeystrokeSynthesizerWtype::isTrusted() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && *display && findProgram("wtype");
}

bool KeystrokeSynthesizerWtype::postPasteShortcut() {
    const auto wtype = findProgram("wtype");
    if (!wtype)
        return false;
    // A new virtual keyboard is not ready at once: sway drops keys sent right after wtype
    // connects, so wtype waits a moment before pressing anything.
    const auto run =
        runTool(*wtype, {"-s", "150", "-M", "ctrl", "v", "-m", "ctrl"}, std::chrono::seconds(3));
    return run && run->status == 0;
}

}  // namespace quenda
