#pragma once

#include <string>
#include <string_view>

namespace quenda {

// What the session tells a program about itself through its environment.
struct SessionEnvironment {
    std::string waylandDisplay;  // WAYLAND_DISPLAY
    std::string sessionType;     // XDG_SESSION_TYPE ("x11", "wayland", "tty", ...)
    std::string currentDesktop;  // XDG_CURRENT_DESKTOP, a colon-separated list ("ubuntu:GNOME")

    // The environment of this process.
    static SessionEnvironment fromProcess();
};

// How push-to-talk reaches Quenda.
enum class TriggerBackend {
    x11Grab,          // a grab of Ctrl+Alt+D on the X11 root window
    portalShortcuts,  // the desktop's GlobalShortcuts portal (press and release)
    commands,         // a shortcut the user binds in the desktop to `quenda --ptt-press` etc.
};

// How the text gets into the focused application.
enum class PasteBackend {
    xtest,          // X11 clipboard, then Ctrl+V through XTest
    remoteDesktop,  // wl-copy, then Ctrl+V through the RemoteDesktop portal
    wtype,          // wl-copy, then Ctrl+V through wtype (the virtual-keyboard protocol)
};

enum class DesktopFamily { other, kde, gnome, wlroots };

struct InputBackends {
    bool wayland = false;
    DesktopFamily desktop = DesktopFamily::other;
    TriggerBackend trigger = TriggerBackend::x11Grab;
    PasteBackend paste = PasteBackend::xtest;
    // The clipboard is written with wl-copy (Qt's clipboard ignores a write from the
    // background on Wayland).
    bool clipboardThroughWlCopy = false;
    // The interface-text key that says why these were chosen ("backend.reason.kde", ...).
    std::string reason;

    bool operator==(const InputBackends&) const = default;
};

// The trigger and paste backends for a session. A Wayland session is one whose
// XDG_SESSION_TYPE says "wayland", or that names a Wayland display without naming any session
// type; everything else is treated as X11.
//  - KDE Plasma and GNOME: the GlobalShortcuts portal and the RemoteDesktop portal (GNOME
//    before 48 has no GlobalShortcuts portal; the backend notices at run time and the window
//    then asks for a `quenda --toggle` shortcut).
//  - wlroots compositors (sway, Hyprland, river, Wayfire, labwc): no portal for either, so
//    commands the user binds (sway can bind press and release) and wtype.
//  - any other Wayland desktop: the portals, found or refused at run time.
InputBackends chooseInputBackends(const SessionEnvironment& session);

// Short technical names, for the command line ("GlobalShortcuts portal", "wtype", ...).
std::string_view triggerName(TriggerBackend trigger);
std::string_view pasteName(PasteBackend paste);

}  // namespace quenda
