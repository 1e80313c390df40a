// The backend choice from the session's environment.
#include <gtest/gtest.h>

#include "input/SessionBackends.h"

namespace quenda {
namespace {

TEST(SessionBackendsTest, EachSessionGetsItsTriggerPasteAndReason) {
    using T = TriggerBackend;
    // {WAYLAND_DISPLAY, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP}, the trigger, the reason's key.
    const std::tuple<SessionEnvironment, T, std::string> cases[] = {
        // X11, also when a Wayland compositor's variable leaks into an X11 session.
        {{"", "x11", "KDE"}, T::x11Grab, "x11"},
        {{"wayland-0", "x11", "GNOME"}, T::x11Grab, "x11"},
        {{"", "", ""}, T::x11Grab, "x11"},
        {{"", "tty", "sway"}, T::x11Grab, "x11"},
        // Wayland named by the session type alone, or by the display alone.
        {{"", "wayland", "KDE"}, T::portalShortcuts, "kde"},
        {{"wayland-0", "", "KDE"}, T::portalShortcuts, "kde"},
        // Desktop lists, any case.
        {{"wayland-0", "Wayland", "ubuntu:GNOME"}, T::portalShortcuts, "gnome"},
        {{"wayland-0", "wayland", "sway"}, T::commands, "wlroots"},
        {{"wayland-1", "wayland", "Hyprland"}, T::commands, "wlroots"},
        {{"wayland-0", "wayland", "X-Cinnamon:river"}, T::commands, "wlroots"},
        {{"wayland-0", "wayland", ""}, T::portalShortcuts, "wayland"},
    };
    // Each trigger comes with its paste: XTest on X11, else the portal's or wtype.
    const PasteBackend paste[] = {PasteBackend::xtest, PasteBackend::remoteDesktop,
                                  PasteBackend::wtype};
    for (const auto& [session, trigger, reason] : cases) {
        const InputBackends chosen = chooseInputBackends(session);
        const bool wayland = trigger != T::x11Grab;
        EXPECT_EQ(
            std::tuple(chosen.wayland, chosen.clipboardThroughWlCopy, chosen.trigger, chosen.paste,
                       chosen.reason),
            std::tuple(wayland, wayland, trigger, paste[int(trigger)], "backend.reason." + reason))
            << session.waylandDisplay << "|" << session.sessionType << "|"
            << session.currentDesktop;
    }
}

}  // namespace
}  // namespace quenda
