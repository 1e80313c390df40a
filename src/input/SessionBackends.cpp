#include "input/SessionBackends.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ranges>

namespace quenda {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

DesktopFamily family(std::string_view currentDesktop) {
    static constexpr std::string_view wlroots[] = {"sway",    "hyprland", "river",
                                                   "wayfire", "labwc",    "wlroots"};
    for (const auto part : std::views::split(currentDesktop, ':')) {
        const std::string name = lower(std::string_view(part.begin(), part.end()));
        if (name == "kde")
            return DesktopFamily::kde;
        if (name == "gnome" || name == "gnome-classic" || name == "gnome-flashback")
            return DesktopFamily::gnome;
        if (std::ranges::find(wlroots, name) != std::end(wlroots))
            return DesktopFamily::wlroots;
    }
    return DesktopFamily::other;
}

}  // namespace

SessionEnvironment SessionEnvironment::fromProcess() {
    return {variable("WAYLAND_DISPLAY"), variable("XDG_SESSION_TYPE"),
            variable("XDG_CURRENT_DESKTOP")};
}

InputBackends chooseInputBackends(const SessionEnvironment& session) {
    InputBackends chosen;
    const std::string type = lower(session.sessionType);
    chosen.wayland = type == "wayland" || (type.empty() && !session.waylandDisplay.empty());
    chosen.desktop = family(session.currentDesktop);
    if (!chosen.wayland) {
        chosen.reason = "backend.reason.x11";
        return chosen;
    }
    chosen.clipboardThroughWlCopy = true;
    switch (chosen.desktop) {
        case DesktopFamily::wlroots:
            chosen.trigger = TriggerBackend::commands;
            chosen.paste = PasteBackend::wtype;
            chosen.reason = "backend.reason.wlroots";
            break;
        case DesktopFamily::kde:
        case DesktopFamily::gnome:
        case DesktopFamily::other:
            chosen.trigger = TriggerBackend::portalShortcuts;
            chosen.paste = PasteBackend::remoteDesktop;
            chosen.reason = chosen.desktop == DesktopFamily::kde     ? "backend.reason.kde"
                            : chosen.desktop == DesktopFamily::gnome ? "backend.reason.gnome"
                                                                     : "backend.reason.wayland";
            break;
    }
    return chosen;
}

std::string_view triggerName(TriggerBackend trigger) {
    switch (trigger) {
        case TriggerBackend::x11Grab:
            return "X11 (XGrabKey)";
        case TriggerBackend::portalShortcuts:
            return "portal GlobalShortcuts";
        case TriggerBackend::commands:
            return "quenda --ptt-press / --ptt-release";
    }
    return "";
}

std::string_view pasteName(PasteBackend paste) {
    switch (paste) {
        case PasteBackend::xtest:
            return "XTest";
        case PasteBackend::remoteDesktop:
            return "wl-copy + portal RemoteDesktop";
        case PasteBackend::wtype:
            return "wl-copy + wtype";
    }
    return "";
}

}  // namespace quenda
