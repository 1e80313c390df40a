// The push-to-talk hotkey and the paste on a real X server (the test desktop's Xvfb), driven
// with xdotool against a separate test window that has the keyboard focus.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <array>
#include <atomic>
#include <iterator>
#include <random>

#include "TestWindowProcess.h"
#include "input/HotkeyManagerX11.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "input/Paster.h"
#include "platform_qt/PasteboardQt.h"
#include "support/QtTestSupport.h"

// After everything else: Xlib defines macros (None, Bool) that clash with C++ headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace quenda {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

const std::string sample = "ação, ç, Ç — Olá";
constexpr int qtControlModifier = 0x04000000;

// Runs an X tool, its arguments separated by spaces ("xdotool key ctrl+alt+d").
void x11(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> arguments{std::istream_iterator<std::string>(words), {}};
    const auto result =
        test::runProgram("/usr/bin/" + arguments[0], {arguments.begin() + 1, arguments.end()});
    ASSERT_EQ(result.status, 0) << command << ": " << result.err;
}

// A connection of the test's own to the test display; closing it ends any grab it holds.
struct Connection {
    Display* const display = XOpenDisplay(nullptr);
    ~Connection() { XCloseDisplay(display); }
};

// The keys held down on the test display now, one bit per X key code.
std::array<char, 32> keysDown() {
    std::array<char, 32> keys{};
    XQueryKeymap(Connection().display, keys.data());
    return keys;
}

// The clipboard as another application reads it (this process serves it from its event loop).
std::string clipboardSeenByOthers() {
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    auto xclip = Process::launch("/usr/bin/xclip", {"-o", "-selection", "clipboard"}, options);
    EXPECT_TRUE(test::processEventsUntil([&] { return !xclip->isRunning(); }));
    xclip->waitForExit();
    return xclip->standardOutputText();
}

// Keyboard states a user may be in, and how to leave them: lock keys on, Alt held, Dvorak
// (the D and V keysyms on other keys), Russian active with the English group beside it.
const std::vector<std::pair<std::string, std::string>> situations = {
    {"xdotool key Caps_Lock Num_Lock", "xdotool key Caps_Lock Num_Lock"},
    {"xdotool keydown alt", "xdotool keyup alt"},
    {"setxkbmap -layout us -variant dvorak", "setxkbmap -layout us"},
    {"setxkbmap -layout ru,us", "setxkbmap -layout us"}};

// The X11 hook, counting the key events it delivers and its reports after a keyboard-map
// change (each once what it posted is queued), so that a test can wait for them.
struct CountingHook final : HotkeyManager::Backend {
    bool install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) override {
        return x11.install(
            hotkey,
            [this, handler = std::move(handler)](KeyEventType type, int64_t code, uint64_t flags) {
                const auto decision = handler(type, code, flags);
                ++keyEvents;
                return decision;
            },
            [this, onGrab = std::move(onGrab)](bool active) {
                onGrab(active);
                ++grabReports;
            });
    }
    void remove() override { x11.remove(); }
    HotkeyManagerX11 x11;
    std::atomic<int> keyEvents{0}, grabReports{0};
};

class X11KeyboardTest : public ::testing::Test {
  protected:
    X11KeyboardTest() {
        manager_->onPress = [this] { record("press"); };
        manager_->onRelease = [this] { record("release"); };
        manager_->onActiveChange = [this](bool active) { record(active ? "active" : "inactive"); };
        XKeysymToKeycode(observer_.display, XK_d);  // loads the keyboard map
        XSync(observer_.display, True);
    }
    ~X11KeyboardTest() override {
        if (HasFailure()) {  // leave the keyboard as the next test expects it
            test::runProgram("/usr/bin/xdotool", {"keyup", "ctrl", "alt", "d"});
            test::runProgram("/usr/bin/setxkbmap", {"-layout", "us"});
        }
    }

    void record(const std::string& event) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread_) << "callback off the main queue";
        events_.push_back(event);
    }

    // Runs the main queue until as many events as expected came, then compares.
    void expectEvents(const Events& expected) {
        queue_.runUntil([&] { return events_.size() >= expected.size(); }, 5s);
        EXPECT_EQ(events_, expected);
    }
    // Taps the combination and expects its press and release after `expected`: an event the
    // hook should not have reported would come before them.
    void expectEventsThenTap(Events expected) {
        x11("xdotool key ctrl+alt+d");
        expected.insert(expected.end(), {"press", "release"});
        expectEvents(expected);
    }

    // Runs an X tool that may change the keyboard map, and returns once the hook has followed
    // every change so far and what it posted has run. The hook reports once per MappingNotify;
    // the observer, an Xlib client that keeps the keyboard map as the hook does, gets the
    // same ones, so it tells how many reports to wait for.
    void changeKeyboard(const std::string& command) {
        x11(command);
        XSync(observer_.display, False);
        for (XEvent event; XCheckTypedEvent(observer_.display, MappingNotify, &event);) {
            XRefreshKeyboardMapping(&event.xmapping);
            reports_ += event.xmapping.request != MappingPointer;
        }
        EXPECT_TRUE(test::waitUntil([&] { return hook_->grabReports >= reports_; }, 5s)) << command;
        queue_.drain();
    }

    // The Qt application (for the clipboard) exists only while a test runs.
    test::ScopedQtApplication<QGuiApplication> application_;
    test::TestWindowProcess window_;
    Connection observer_;
    int reports_ = 0;  // the hook's reports that the changes seen so far bring
    ManualMainQueue queue_;
    CountingHook* hook_ = new CountingHook;
    std::unique_ptr<HotkeyManager> manager_ = std::make_unique<HotkeyManager>(
        Hotkey::pushToTalk(), queue_, std::unique_ptr<HotkeyManager::Backend>(hook_));
    Events events_;
    const std::thread::id mainThread_ = std::this_thread::get_id();
    PasteboardQt pasteboard_;
    KeystrokeSynthesizerXTest keystrokes_;
};

TEST_F(X11KeyboardTest, HoldingTheCombinationGivesOnePressAndOneReleaseAndOnlyItIsHidden) {
    ASSERT_TRUE(manager_->start());
    // D pressed again while held arrives as the server's auto-repeat does: no second press.
    x11("xdotool keydown ctrl+alt+d keydown d keydown d keydown d keyup d keyup ctrl+alt");
    // The window saw none of it, while other combinations and a plain D pass through to it.
    x11("xdotool key ctrl+alt+shift+d d super+ctrl+alt+d");
    EXPECT_TRUE(test::waitUntil([&] { return window_.presses('D').size() == 3; }, 5s));
    Events expected{"press", "release"};
    expectEventsThenTap(expected);

    // The modifiers go up first (the hook sees their releases); the release waits for the D key.
    const int before = hook_->keyEvents;
    x11("xdotool keydown ctrl+alt+d keyup ctrl keyup alt");
    EXPECT_TRUE(test::waitUntil([&] { return hook_->keyEvents >= before + 3; }, 5s));
    queue_.drain();
    expected.insert(expected.end(), {"press", "release", "press"});
    EXPECT_EQ(events_, expected);
    x11("xdotool keyup d");
    expected.push_back("release");
    expectEventsThenTap(expected);
    EXPECT_EQ(window_.text(), "d");
}

TEST_F(X11KeyboardTest, AKeyboardMapThatPutsTheCombinationWhereAnotherClientHoldsItIsReported) {
    ASSERT_TRUE(manager_->start());
    {
        // Another client holds Ctrl+Alt on the key that types "d" in Dvorak ("h" in US).
        Connection other;
        XGrabKey(other.display, XKeysymToKeycode(other.display, XK_h), ControlMask | Mod1Mask,
                 DefaultRootWindow(other.display), False, GrabModeAsync, GrabModeAsync);
        XSync(other.display, False);
        changeKeyboard("setxkbmap -layout us -variant dvorak");
        expectEvents({"inactive"});
        EXPECT_FALSE(manager_->isStarted());
        x11("xdotool key ctrl+alt+d");  // the other client's now
    }
    // The other client is gone: the next change of map takes the combination again.
    changeKeyboard("setxkbmap -layout us");
    expectEvents({"inactive", "active"});
    EXPECT_TRUE(manager_->isStarted());
    expectEventsThenTap({"inactive", "active"});
}

TEST_F(X11KeyboardTest, AnotherClientsGrabRefusesStartAndStopForgetsAHeldPress) {
    ManualMainQueue otherQueue;
    HotkeyManager other(Hotkey::pushToTalk(), otherQueue);
    ASSERT_TRUE(other.start());
    EXPECT_FALSE(manager_->start());
    EXPECT_FALSE(manager_->isStarted());
    other.stop();

    ASSERT_TRUE(manager_->start());
    EXPECT_TRUE(manager_->start());  // already started: the one hook stays, events come once
    x11("xdotool keydown ctrl+alt+d");
    expectEvents({"press"});
    manager_->stop();
    // Stopped, the combination reaches the window again (as a control character, no text).
    x11("xdotool keyup ctrl+alt+d key ctrl+alt+d");
    EXPECT_TRUE(test::waitUntil([&] { return window_.presses('D').size() == 1; }, 5s));
    ASSERT_TRUE(manager_->start());
    expectEventsThenTap({"press"});  // no release for the press that stop() forgot

    // Work still queued when the manager goes does nothing.
    x11("xdotool key ctrl+alt+d");
    ASSERT_TRUE(test::waitUntil([&] { return queue_.pendingCount() == 2; }, 5s));
    manager_.reset();
    queue_.drain();
    EXPECT_EQ(events_.size(), 3u);
}

// In every keyboard state the combination matches, and a paste arrives once: the hotkey, which
// watches throughout, must not take it for itself. (The window takes a new keyboard map before
// any key sent after it; the hook is waited for.)
TEST_F(X11KeyboardTest, WhateverTheKeyboardStateTheCombinationMatchesAndAPasteArrivesOnce) {
    ASSERT_TRUE(manager_->start());
    Events expected;
    std::string pasted;
    long plainPastes = 0;
    for (const auto& [setUp, undo] : situations) {
        const std::string text = sample + " " + setUp;
        SCOPED_TRACE(text);
        changeKeyboard(setUp);
        if (!setUp.ends_with("alt")) {  // Alt held would make it Ctrl+Alt+Alt+D
            x11("xdotool key ctrl+alt+d");
            expected.insert(expected.end(), {"press", "release"});
            expectEvents(expected);
        }
        const auto held = keysDown();
        EXPECT_TRUE(Paster::pasteAtCursor(text, pasteboard_, keystrokes_));
        pasted += text;
        EXPECT_TRUE(test::processEventsUntil([&] { return window_.text() == pasted; }))
            << window_.text();
        EXPECT_EQ(keysDown(), held) << "the paste left keys pressed or released the user's";
        changeKeyboard(undo);
        if (setUp.starts_with("xdotool")) {  // on the US layout every paste is one plain Ctrl+V
            EXPECT_EQ(std::ranges::count(window_.presses('V'), qtControlModifier), ++plainPastes);
        }
        EXPECT_EQ(clipboardSeenByOthers(), text);
    }
    queue_.drain();
    EXPECT_EQ(events_, expected);

    // An empty text empties the clipboard too, rather than pasting the previous text again.
    const auto pastes = window_.presses('V').size();
    ASSERT_TRUE(Paster::pasteAtCursor("", pasteboard_, keystrokes_));
    EXPECT_TRUE(test::processEventsUntil([&] { return window_.presses('V').size() > pastes; }));
    EXPECT_EQ(clipboardSeenByOthers(), "");
}

// A display number no X server of this machine uses, in any network namespace. (Xvfb's own
// search for one unlinks the sockets of servers it cannot reach, such as another test run's.)
std::string unusedDisplayNumber() {
    std::mt19937 random(std::random_device{}());
    for (;;) {
        const auto number = std::to_string(std::uniform_int_distribution(1000, 9999)(random));
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + number) &&
            !std::filesystem::exists("/tmp/.X" + number + "-lock"))
            return number;
    }
}

TEST_F(X11KeyboardTest, WithoutXTestOrADisplayTheTextStaysOnTheClipboardAndNoHotkeyStarts) {
    // An X server of its own without the XTest extension; it prints its display number once
    // it is ready.
    const std::string withoutXTest = ":" + unusedDisplayNumber();
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    const auto xvfb = Process::launch(
        "/usr/bin/Xvfb",
        {withoutXTest, "-displayfd", "1", "-extension", "XTEST", "-nolisten", "tcp"}, options);
    const std::shared_ptr<void> stop(nullptr, [&](void*) { xvfb->stop(5s); });
    ASSERT_TRUE(test::waitUntil([&] { return xvfb->standardOutputText().ends_with('\n'); }));
    for (const std::string& display : {withoutXTest, std::string(":97531")}) {
        SCOPED_TRACE(display);
        KeystrokeSynthesizerXTest unusable(display);
        const std::string text = sample + display;
        EXPECT_FALSE(unusable.isTrusted());
        EXPECT_FALSE(Paster::pasteAtCursor(text, pasteboard_, unusable));
        EXPECT_EQ(clipboardSeenByOthers(), text);
    }
    HotkeyManager noDisplay(Hotkey::pushToTalk(), queue_,
                            std::make_unique<HotkeyManagerX11>(":97531"));
    EXPECT_FALSE(noDisplay.start());
}

}  // namespace
}  // namespace quenda
