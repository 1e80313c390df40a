// The push-to-talk hotkey and the paste on a real X server (the test desktop's Xvfb), driven
// with xdotool against a separate test window that has the keyboard focus.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <array>
#include <iterator>
#include <sstream>
#include <thread>

#include "TestWindowProcess.h"
#include "input/HotkeyManager.h"
#include "input/HotkeyManagerX11.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "input/Paster.h"
#include "platform_qt/PasteboardQt.h"

// After everything else: Xlib defines macros (None, Bool) that clash with C++ headers.
#include <X11/Xlib.h>

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

// The X key codes held down on the test display now.
std::vector<int> keysDown() {
    Display* display = XOpenDisplay(nullptr);
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    XCloseDisplay(display);
    std::vector<int> down;
    for (int code = 0; code < 256; ++code) {
        if ((keys[code / 8] >> (code % 8)) & 1)
            down.push_back(code);
    }
    return down;
}

// Waits while serving this process's events: the clipboard is handed to other applications
// from the event loop.
bool pumpUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// The clipboard as another application reads it.
std::string clipboardSeenByOthers() {
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    auto xclip = Process::launch("/usr/bin/xclip", {"-o", "-selection", "clipboard"}, options);
    EXPECT_TRUE(pumpUntil([&] { return !xclip->isRunning(); }));
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

class X11KeyboardTest : public ::testing::Test {
  protected:
    X11KeyboardTest() {
        manager_->onPress = [this] { record("press"); };
        manager_->onRelease = [this] { record("release"); };
    }

    void record(const std::string& event) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread_) << "callback off the main queue";
        events_.push_back(event);
    }

    // Waits for `count` events, then a little longer to catch any extra one.
    Events eventsAfter(size_t count) {
        queue_.runUntil([&] { return events_.size() >= count; }, 5s);
        queue_.runUntil([] { return false; }, 300ms);
        return events_;
    }

    // The Qt application (for the clipboard) exists only while a test runs.
    int argc_ = 1;
    char name_[18] = "x11_keyboard_test";
    char* argv_[2] = {name_, nullptr};
    QGuiApplication application_{argc_, argv_};
    test::TestWindowProcess window_;
    ManualMainQueue queue_;
    std::unique_ptr<HotkeyManager> manager_ =
        std::make_unique<HotkeyManager>(Hotkey::pushToTalk(), queue_);
    Events events_;
    const std::thread::id mainThread_ = std::this_thread::get_id();
    PasteboardQt pasteboard_;
    KeystrokeSynthesizerXTest keystrokes_;
};

TEST_F(X11KeyboardTest, HoldingTheCombinationGivesOnePressAndOneReleaseAndOnlyItIsHidden) {
    ASSERT_TRUE(manager_->start());
    x11("xdotool keydown ctrl+alt+d");
    // Held for two seconds; on top of the server's own auto-repeat, press D again now and
    // then, which the server also reports as a repeat of the held key.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(500ms);
        x11("xdotool keydown d");
    }
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    x11("xdotool keyup d");
    x11("xdotool keyup ctrl+alt");
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));

    // The window saw none of it, while other combinations and a plain D pass through to it.
    x11("xdotool key ctrl+alt+shift+d");
    x11("xdotool key d");
    x11("xdotool key super+ctrl+alt+d");
    ASSERT_TRUE(test::waitUntil([&] { return window_.presses('D').size() == 3; }, 5s));
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));
    EXPECT_EQ(window_.text(), "d");
}

TEST_F(X11KeyboardTest, LockKeysLayoutsAndModifiersReleasedFirstStillMatch) {
    ASSERT_TRUE(manager_->start());
    for (const auto& [setUp, undo] : situations) {
        if (setUp.ends_with("alt"))
            continue;  // Alt held would make it Ctrl+Alt+Alt+D
        SCOPED_TRACE(setUp);
        x11(setUp);
        std::this_thread::sleep_for(200ms);
        x11("xdotool key ctrl+alt+d");
        const auto events = eventsAfter(2);
        x11(undo);
        EXPECT_EQ(events, (Events{"press", "release"}));
        events_.clear();
    }
    x11("xdotool keydown ctrl+alt+d");
    x11("xdotool keyup ctrl");
    x11("xdotool keyup alt");
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    x11("xdotool keyup d");
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));
    EXPECT_EQ(window_.text(), "");
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
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    manager_->stop();
    x11("xdotool keyup ctrl+alt+d");
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    // Stopped, the combination reaches the window again (as a control character, no text).
    x11("xdotool key ctrl+alt+d");
    EXPECT_TRUE(test::waitUntil([&] { return window_.presses('D').size() == 1; }, 5s));
    ASSERT_TRUE(manager_->start());
    x11("xdotool key ctrl+alt+d");
    EXPECT_EQ(eventsAfter(3), (Events{"press", "press", "release"}));

    // Work still queued when the manager goes does nothing.
    x11("xdotool key ctrl+alt+d");
    ASSERT_TRUE(test::waitUntil([&] { return queue_.pendingCount() == 2; }, 5s));
    manager_.reset();
    queue_.drain();
    EXPECT_EQ(events_.size(), 3u);
}

TEST(X11KeyboardNoDisplay, StartFailsWithoutADisplay) {
    ManualMainQueue queue;
    EXPECT_FALSE(
        HotkeyManager(Hotkey::pushToTalk(), queue, std::make_unique<HotkeyManagerX11>(":97531"))
            .start());
    test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    HotkeyManager withoutDisplay(Hotkey::pushToTalk(), queue);
    EXPECT_FALSE(withoutDisplay.start());
    EXPECT_FALSE(withoutDisplay.isStarted());
}

TEST_F(X11KeyboardTest, PastesTheTextOnceIntoTheFocusedWindowPastTheHotkey) {
    ASSERT_TRUE(manager_->start());
    ASSERT_TRUE(Paster::pasteAtCursor(sample, pasteboard_, keystrokes_));
    EXPECT_TRUE(pumpUntil([&] { return window_.text() == sample; })) << window_.text();
    EXPECT_EQ(window_.presses('V'), std::vector{qtControlModifier});
    EXPECT_EQ(clipboardSeenByOthers(), sample);
    queue_.drain();
    EXPECT_EQ(events_, Events{});

    // An empty text empties the clipboard too, rather than pasting the previous text again.
    ASSERT_TRUE(Paster::pasteAtCursor("", pasteboard_, keystrokes_));
    EXPECT_TRUE(pumpUntil([&] { return window_.presses('V').size() == 2; }));
    EXPECT_EQ(clipboardSeenByOthers(), "");
    EXPECT_EQ(window_.text(), sample);
}

TEST_F(X11KeyboardTest, HeldModifiersAndOtherLayoutsDoNotSpoilThePaste) {
    long plainPastes = 0;
    for (const auto& [setUp, undo] : situations) {
        const std::string text = sample + " " + setUp;
        SCOPED_TRACE(text);
        x11(setUp);
        std::this_thread::sleep_for(200ms);
        const auto held = keysDown();
        const bool posted = Paster::pasteAtCursor(text, pasteboard_, keystrokes_);
        const bool pasted = pumpUntil([&] { return window_.text() == text; });
        EXPECT_EQ(keysDown(), held) << "the paste left keys pressed or released the user's";
        x11(undo);
        EXPECT_TRUE(posted);
        EXPECT_TRUE(pasted) << window_.text();
        if (setUp.starts_with("xdotool")) {  // on the US layout every paste is one plain Ctrl+V
            EXPECT_EQ(std::ranges::count(window_.presses('V'), qtControlModifier), ++plainPastes);
        }
        EXPECT_EQ(keysDown(), std::vector<int>{});
        x11("xdotool key ctrl+a BackSpace");
        EXPECT_TRUE(pumpUntil([&] { return window_.text().empty(); }));
    }
}

TEST_F(X11KeyboardTest, WithoutXTestOrADisplayTheTextStaysOnTheClipboard) {
    // An X server of its own without the XTest extension; it prints its display number once
    // it is ready.
    ProcessOptions options;
    options.standardOutput = ProcessOptions::Output::capture;
    auto xvfb = Process::launch(
        "/usr/bin/Xvfb", {"-displayfd", "1", "-extension", "XTEST", "-nolisten", "tcp"}, options);
    const std::shared_ptr<void> stop(nullptr, [&](void*) {
        xvfb->terminate();
        xvfb->waitForExit();
    });
    ASSERT_TRUE(test::waitUntil([&] { return xvfb->standardOutputText().ends_with('\n'); }));
    std::string withoutXTest = ":" + xvfb->standardOutputText();
    withoutXTest.pop_back();
    for (const std::string& display : {withoutXTest, std::string(":97531")}) {
        SCOPED_TRACE(display);
        KeystrokeSynthesizerXTest unusable(display);
        const std::string text = sample + display;
        EXPECT_FALSE(unusable.isTrusted());
        EXPECT_FALSE(Paster::pasteAtCursor(text, pasteboard_, unusable));
        EXPECT_EQ(clipboardSeenByOthers(), text);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(window_.presses('V'), std::vector<int>{});
    EXPECT_EQ(window_.text(), "");
}

}  // namespace
}  // namespace quenda
