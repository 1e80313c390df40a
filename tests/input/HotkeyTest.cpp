// The hotkey, its decisions and its manager, and the choice of input backends from the session.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "input/Hotkey.h"
#include "input/HotkeyDecision.h"
#include "input/HotkeyManager.h"
#include "input/SessionBackends.h"

namespace quenda {
namespace {

TEST(HotkeyTest, PushToTalkIsCtrlAltDAndDisplaysEveryModifierInAFixedOrder) {
    EXPECT_EQ(Hotkey::pushToTalk(), (Hotkey{2, 0x180000}));
    EXPECT_EQ(Hotkey::pushToTalk().display(), "Ctrl+Alt+D");
    EXPECT_EQ((Hotkey{49, 0x1E0000 | 0x10000}).display(), "Ctrl+Alt+Shift+Super+Espaço");
    EXPECT_EQ((Hotkey{36, 0}).display(), "tecla 36");
}

TEST(HotkeyTest, EncodesAndDecodesAsAKeyedRecord) {
    const Hotkey hotkey{65535, 0xFFFFFFFFFFFFFFFFull};
    EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(hotkey.encoded().dump())), hotkey);
    EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(R"({"keyCode": 2, "modifiers": 1572864})")),
              Hotkey::pushToTalk());
    for (const char* bad :
         {R"({"keyCode": 2})", R"({"modifiers": 1})", R"([2, 1])",
          R"({"keyCode": 65536, "modifiers": 0})", R"({"keyCode": -1, "modifiers": 0})",
          R"({"keyCode": 2, "modifiers": -5})", R"({"keyCode": 2.5, "modifiers": 0})",
          R"({"keyCode": "2", "modifiers": 0})"}) {
        EXPECT_EQ(Hotkey::decode(nlohmann::json::parse(bad)), std::nullopt) << bad;
    }
}

// The matching rule, one row per situation it tells apart.
TEST(HotkeyDecisionTest, FollowsTheMatchingRule) {
    using enum KeyEventType;
    using enum HotkeyDecision::Report;
    constexpr uint64_t oc = Hotkey::optionFlag | Hotkey::commandFlag;
    constexpr uint64_t locks = 0x10000 | 0x200000 | 0x800000;  // caps lock, numeric pad, fn
    // {drop, report, pressed afterwards, re-enable the hook}
    const HotkeyDecision passUp{}, passDown{false, none, true}, pressed{true, press, true},
        reenable{false, none, true, true};
    for (const auto& [name, type, keyCode, flags, held, expected] : std::vector<
             std::tuple<const char*, KeyEventType, int64_t, uint64_t, bool, HotkeyDecision>>{
             {"press", keyDown, 2, oc, false, pressed},
             {"auto-repeat is swallowed", keyDown, 2, oc, true, {true, none, true}},
             {"caps lock, num lock and fn do not matter", keyDown, 2, oc | locks, false, pressed},
             {"an extra shift", keyDown, 2, oc | Hotkey::shiftFlag, false, passUp},
             {"an extra control", keyDown, 2, oc | Hotkey::controlFlag, false, passUp},
             {"option missing", keyDown, 2, Hotkey::commandFlag, false, passUp},
             {"D alone while held", keyDown, 2, 0, true, passDown},
             {"another key with the modifiers", keyDown, 9, oc, false, passUp},
             {"another key while held", keyDown, 14, oc, true, passDown},
             {"a code past 16 bits, 2 in its low bits", keyDown, 0x10002, oc, false, passUp},
             {"a key without a code", keyDown, -1, oc, false, passUp},
             {"release", keyUp, 2, oc, true, {true, release, false}},
             {"release after the modifiers went up", keyUp, 2, 0, true, {true, release, false}},
             {"release without a press", keyUp, 2, oc, false, passUp},
             {"another key up while held", keyUp, 55, 0, true, passDown},
             {"hook switched off by time-out", tapDisabledByTimeout, 2, oc, true, reenable},
             {"hook switched off by user input", tapDisabledByUserInput, 2, oc, true, passDown}}) {
        const auto decision =
            HotkeyDecision::forEvent(Hotkey::pushToTalk(), type, keyCode, flags, held);
        EXPECT_EQ(decision, expected) << name;
    }
}

// A hook that accepts every installation and lets the test speak for it.
struct ScriptedHook final : HotkeyManager::Backend {
    bool install(const Hotkey&, EventHandler, GrabHandler onGrab) override {
        ++installs;
        report = std::move(onGrab);
        return true;
    }
    void remove() override {}
    int installs = 0;
    GrabHandler report;
};

// (How reports of the current hook become onActiveChange is covered on the X server.)
TEST(HotkeyManagerTest, AReportOfAnEarlierInstallationIsIgnoredAndALostHookIsInstalledAfresh) {
    ManualMainQueue queue;
    auto owned = std::make_unique<ScriptedHook>();
    ScriptedHook& hook = *owned;
    HotkeyManager manager(Hotkey::pushToTalk(), queue, std::move(owned));
    ASSERT_TRUE(manager.start());
    hook.report(false);  // still queued when that installation goes
    manager.stop();
    ASSERT_TRUE(manager.start());
    queue.drain();
    EXPECT_TRUE(manager.isStarted());

    hook.report(false);
    queue.drain();
    EXPECT_FALSE(manager.isStarted());
    EXPECT_TRUE(manager.start());
    EXPECT_EQ(hook.installs, 3);
}

// The backend choice from the session's environment.
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
