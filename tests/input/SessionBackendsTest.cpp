// The backend choice from the session's environment.
#include <gtest/gtest.h>

#include "input/SessionBackends.h"

namespace quenda {
namespace {

TEST(SessionBackendsTest, EachSessionGetsItsTriggerPasteAndReason) {
    using T = TriggerBackend;
    using P = PasteBackend;
    const struct {
        SessionEnvironment session;
        bool wayland;
        T trigger;
        P paste;
        const char* reason;
    } cases[] = {
        // X11, also when a Wayland compositor's variable leaks into an X11 session.
        {{"", "x11", "KDE"}, false, T::x11Grab, P::xtest, "backend.reason.x11"},
        {{"wayland-0", "x11", "GNOME"}, false, T::x11Grab, P::xtest, "backend.reason.x11"},
        {{"", "", ""}, false, T::x11Grab, P::xtest, "backend.reason.x11"},
        {{"", "tty", "sway"}, false, T::x11Grab, P::xtest, "backend.reason.x11"},
        // Wayland named by the session type alone, or by the display alone.
        {{"", "wayland", "KDE"}, true, T::portalShortcuts, P::remoteDesktop, "backend.reason.kde"},
        {{"wayland-0", "", "KDE"},
         true,
         T::portalShortcuts,
         P::remoteDesktop,
         "backend.reason.kde"},
        // Desktop lists, any case.
        {{"wayland-0", "Wayland", "ubuntu:GNOME"},
         true,
         T::portalShortcuts,
         P::remoteDesktop,
         "backend.reason.gnome"},
        {{"wayland-0", "wayland", "sway"}, true, T::commands, P::wtype, "backend.reason.wlroots"},
        {{"wayland-1", "wayland", "Hyprland"},
         true,
         T::commands,
         P::wtype,
         "backend.reason.wlroots"},
        {{"wayland-0", "wayland", "X-Cinnamon:river"},
         true,
         T::commands,
         P::wtype,
         "backend.reason.wlroots"},
        {{"wayland-0", "wayland", ""},
         true,
         T::portalShortcuts,
         P::remoteDesktop,
         "backend.reason.wayland"},
        {{"wayland-0", "wayland", "COSMIC"},
         true,
         T::portalShortcuts,
         P::remoteDesktop,
         "backend.reason.wayland"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session.waylandDisplay + "|" + c.session.sessionType + "|" +
                     c.session.currentDesktop);
        const InputBackends chosen = chooseInputBackends(c.session);
        EXPECT_EQ(chosen.wayland, c.wayland);
        EXPECT_EQ(chosen.clipboardThroughWlCopy, c.wayland);
        EXPECT_EQ(chosen.trigger, c.trigger);
        EXPECT_EQ(chosen.paste, c.paste);
        EXPECT_EQ(chosen.reason, c.reason);
    }
}

}  // namespace
}  // namespace quenda
