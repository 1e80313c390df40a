#include "input/HotkeyManagerX11.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "input/X11ErrorTrap.h"

namespace quenda {

namespace {

// The hotkey encoding's key codes and the keysyms of the keys at those codes.
constexpr std::array<std::pair<uint16_t, KeySym>, 27> keyCodeKeysyms{{
    {0, XK_a},  {11, XK_b}, {8, XK_c},  {2, XK_d},  {14, XK_e}, {3, XK_f},      {5, XK_g},
    {4, XK_h},  {34, XK_i}, {38, XK_j}, {40, XK_k}, {37, XK_l}, {46, XK_m},     {45, XK_n},
    {31, XK_o}, {35, XK_p}, {12, XK_q}, {15, XK_r}, {1, XK_s},  {17, XK_t},     {32, XK_u},
    {9, XK_v},  {13, XK_w}, {7, XK_x},  {16, XK_y}, {6, XK_z},  {49, XK_space},
}};

// Flags the matching rule ignores but that tell Caps Lock and Num Lock apart in the encoding.
constexpr uint64_t capsLockFlag = 0x10000;
constexpr uint64_t numericPadFlag = 0x200000;

KeySym keysymForCode(uint16_t code) {
    for (const auto& [known, keysym] : keyCodeKeysyms) {
        if (known == code)
            return keysym;
    }
    return NoSymbol;
}

// -1 for keys that have no code in the hotkey encoding (they never match).
int64_t codeForKeysym(KeySym keysym) {
    KeySym lower = NoSymbol;
    KeySym upper = NoSymbol;
    XConvertCase(keysym, &lower, &upper);
    for (const auto& [code, known] : keyCodeKeysyms) {
        if (known == lower)
            return code;
    }
    return -1;
}

}  // namespace

std::unique_ptr<HotkeyManager::Backend> HotkeyManager::Backend::createForPlatform() {
    return std::make_unique<HotkeyManagerX11>();
}

HotkeyManagerX11::HotkeyManagerX11(std::string displayName)
    : displayName_(std::move(displayName)) {}

HotkeyManagerX11::~HotkeyManagerX11() {
    remove();
}

bool HotkeyManagerX11::install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) {
    if (display_)
        return true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_)
        return false;
    hotkey_ = hotkey;
    handler_ = std::move(handler);
    onGrab_ = std::move(onGrab);

    Bool detectable = False;
    XkbSetDetectableAutoRepeat(display_, True, &detectable);
    if (!detectable || !grab() || ::pipe2(wakePipe_.data(), O_CLOEXEC) != 0) {
        ungrab();
        XCloseDisplay(display_);
        display_ = nullptr;
        handler_ = nullptr;
        onGrab_ = nullptr;
        return false;
    }
    reader_ = std::thread([this] { run(); });
    return true;
}

void HotkeyManagerX11::remove() {
    if (!display_)
        return;
    const char wake = 1;
    while (::write(wakePipe_[1], &wake, 1) < 0 && errno == EINTR) {
    }
    reader_.join();
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    wakePipe_ = {-1, -1};
    ungrab();
    XCloseDisplay(display_);
    display_ = nullptr;
    handler_ = nullptr;
    onGrab_ = nullptr;
}

HotkeyManagerX11::Grab HotkeyManagerX11::locate() {
    // Find which of Mod1..Mod5 carry Alt, Super and Num Lock in the current modifier map.
    masks_ = {};
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map)
        return {};
    for (int modifier = Mod1MapIndex; modifier <= Mod5MapIndex; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code == 0)
                continue;
            const KeySym keysym = XkbKeycodeToKeysym(display_, code, 0, 0);
            const unsigned mask = 1u << modifier;
            if (keysym == XK_Alt_L || keysym == XK_Alt_R)
                masks_.alt = mask;
            else if (keysym == XK_Super_L || keysym == XK_Super_R)
                masks_.super = mask;
            else if (keysym == XK_Num_Lock)
                masks_.numLock = mask;
        }
    }
    XFreeModifiermap(map);

    Grab where{0, 0, masks_.numLock};
    const std::pair<uint64_t, unsigned> modifierMap[] = {{Hotkey::commandFlag, ControlMask},
                                                         {Hotkey::optionFlag, masks_.alt},
                                                         {Hotkey::shiftFlag, ShiftMask},
                                                         {Hotkey::controlFlag, masks_.super}};
    for (const auto& [flag, mask] : modifierMap) {
        if (hotkey_.modifiers & flag) {
            if (mask == 0)
                return {};  // the keyboard map has no such modifier
            where.modifiers |= mask;
        }
    }
    const KeySym keysym = keysymForCode(hotkey_.keyCode);
    where.key = keysym == NoSymbol ? 0 : XKeysymToKeycode(display_, keysym);
    return where;
}

bool HotkeyManagerX11::grab() {
    const Grab where = locate();
    if (where.key == 0)
        return false;
    // One grab per lock combination, so Caps Lock or Num Lock being on does not matter. A
    // grab another client holds is refused with BadAccess.
    X11ErrorTrap trap(display_);
    const Window root = DefaultRootWindow(display_);
    const unsigned locks[] = {0, LockMask, where.numLock, LockMask | where.numLock};
    for (const unsigned lock : locks) {
        XGrabKey(display_, where.key, where.modifiers | lock, root, False, GrabModeAsync,
                 GrabModeAsync);
    }
    grabbed_ = where;
    if (trap.sync() != 0) {
        ungrab();
        return false;
    }
    return true;
}

void HotkeyManagerX11::ungrab() {
    if (grabbed_.key == 0)
        return;
    const Window root = DefaultRootWindow(display_);
    const unsigned locks[] = {0, LockMask, grabbed_.numLock, LockMask | grabbed_.numLock};
    for (const unsigned lock : locks)
        XUngrabKey(display_, grabbed_.key, grabbed_.modifiers | lock, root);
    XSync(display_, False);
    grabbed_ = {};
}

void HotkeyManagerX11::regrab() {
    // A grab that is still where the combination sits is kept: letting go of it even for a
    // moment would let a press through to the focused window, or to another client.
    if (grabbed_.key == 0 || locate() != grabbed_) {
        ungrab();
        grab();
    }
    if (onGrab_)
        onGrab_(grabbed_.key != 0);
}

void HotkeyManagerX11::run() {
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            dispatch(event);
        }
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
    }
}

void HotkeyManagerX11::dispatch(XEvent& event) {
    if (event.type == MappingNotify) {
        // The keyboard layout or modifier map changed: the combination may sit on another
        // key now, so grab it again where it is.
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer)
            regrab();
        return;
    }
    if (event.type != KeyPress && event.type != KeyRelease)
        return;

    const XKeyEvent& key = event.xkey;
    uint64_t flags = 0;
    const std::pair<unsigned, uint64_t> stateMap[] = {
        {ShiftMask, Hotkey::shiftFlag},   {ControlMask, Hotkey::commandFlag},
        {masks_.alt, Hotkey::optionFlag}, {masks_.super, Hotkey::controlFlag},
        {LockMask, capsLockFlag},         {masks_.numLock, numericPadFlag}};
    for (const auto& [mask, flag] : stateMap) {
        if (mask != 0 && (key.state & mask))
            flags |= flag;
    }
    // The first layout group that gives the key a code: with Russian beside English, the key
    // that types "в" is the D key of the English group.
    int64_t code = -1;
    for (int group = 0; group < XkbNumKbdGroups && code < 0; ++group) {
        code = codeForKeysym(
            XkbKeycodeToKeysym(display_, static_cast<KeyCode>(key.keycode), group, 0));
    }
    handler_(event.type == KeyPress ? KeyEventType::keyDown : KeyEventType::keyUp, code, flags);
}

}  // namespace quenda
