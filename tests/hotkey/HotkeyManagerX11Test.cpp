// The push-to-talk hotkey on a real X server (the test desktop's Xvfb), driven with xdotool
// against a separate test window that has the keyboard focus.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "TestWindowProcess.h"
#include "state/HotkeyManager.h"
#include "state/HotkeyManagerX11.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
using test::runX11Tool;

void xdotool(const std::vector<std::string>& arguments) {
    runX11Tool("xdotool", arguments);
}

// The X11 hook, with a count of what reaches the manager through it.
class CountingBackend : public HotkeyManager::Backend {
  public:
    explicit CountingBackend(std::string displayName = {}) : inner_(std::move(displayName)) {}

    bool install(const Hotkey& hotkey, EventHandler handler) override {
        ++installs;
        return inner_.install(hotkey,
                              [this, handler](KeyEventType type, int64_t code, uint64_t flags) {
                                  if (code == Hotkey::dKeyCode && type == KeyEventType::keyDown)
                                      ++dKeyDowns;
                                  return handler(type, code, flags);
                              });
    }
    void remove() override { inner_.remove(); }

    int installs = 0;
    std::atomic<int> dKeyDowns{0};

  private:
    HotkeyManagerX11 inner_;
};

class HotkeyManagerX11Test : public ::testing::Test {
  protected:
    HotkeyManagerX11Test() {
        auto backend = std::make_unique<CountingBackend>();
        backend_ = backend.get();
        manager_ =
            std::make_unique<HotkeyManager>(Hotkey::pushToTalk(), queue_, std::move(backend));
        manager_->onPress = [this] { record("press"); };
        manager_->onRelease = [this] { record("release"); };
    }

    void record(const std::string& event) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread_) << "callback off the main queue";
        events_.push_back(event);
    }

    // Waits for `count` events, then a little longer to catch any extra one.
    std::vector<std::string> eventsAfter(size_t count) {
        queue_.runUntil([&] { return events_.size() >= count; }, 5s);
        queue_.runUntil([] { return false; }, 300ms);
        return events_;
    }

    test::TestWindowProcess window_;
    ManualMainQueue queue_;
    CountingBackend* backend_ = nullptr;
    std::unique_ptr<HotkeyManager> manager_;
    std::vector<std::string> events_;
    const std::thread::id mainThread_ = std::this_thread::get_id();
};

using Events = std::vector<std::string>;

TEST_F(HotkeyManagerX11Test, HoldingTheCombinationGivesOnePressAndOneReleaseAndHidesTheKey) {
    ASSERT_TRUE(manager_->start());
    xdotool({"keydown", "ctrl+alt+d"});
    // Held for two seconds; on top of the server's own auto-repeat, press D again now and
    // then, which the server also reports as a repeat of the held key.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(500ms);
        xdotool({"keydown", "d"});
    }
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    xdotool({"keyup", "d"});
    xdotool({"keyup", "ctrl+alt"});
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));
    EXPECT_GT(backend_->dKeyDowns, 4) << "the repeats never reached the hook";

    // The window saw nothing of it, though it does receive a plain D.
    EXPECT_EQ(window_.text(), "");
    xdotool({"key", "d"});
    EXPECT_TRUE(test::waitUntil([&] { return window_.text() == "d"; }, 5s)) << window_.text();
}

TEST_F(HotkeyManagerX11Test, OtherCombinationsPassThroughToTheFocusedWindow) {
    ASSERT_TRUE(manager_->start());
    xdotool({"key", "ctrl+alt+shift+d"});
    xdotool({"key", "d"});
    xdotool({"key", "super+ctrl+alt+d"});
    ASSERT_TRUE(test::waitUntil([&] { return window_.keyPresses().size() >= 7; }, 5s));
    queue_.runUntil([] { return false; }, 300ms);
    EXPECT_EQ(events_, Events{});

    int dPresses = 0;
    for (const auto& [key, modifiers] : window_.keyPresses())
        dPresses += key == 'D';
    EXPECT_EQ(dPresses, 3);
    EXPECT_EQ(window_.text(), "d");
}

TEST_F(HotkeyManagerX11Test, CapsLockAndNumLockStillMatch) {
    ASSERT_TRUE(manager_->start());
    xdotool({"key", "Caps_Lock", "Num_Lock"});
    xdotool({"key", "ctrl+alt+d"});
    const auto events = eventsAfter(2);
    xdotool({"key", "Caps_Lock", "Num_Lock"});
    EXPECT_EQ(events, (Events{"press", "release"}));
}

TEST_F(HotkeyManagerX11Test, ReleasingTheModifiersFirstEndsThePressAtTheKeyUp) {
    ASSERT_TRUE(manager_->start());
    xdotool({"keydown", "ctrl+alt+d"});
    xdotool({"keyup", "ctrl"});
    xdotool({"keyup", "alt"});
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    xdotool({"keyup", "d"});
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));
    EXPECT_EQ(window_.text(), "");
}

TEST_F(HotkeyManagerX11Test, StartsOnceAndStopForgetsAHeldPress) {
    ASSERT_TRUE(manager_->start());
    EXPECT_TRUE(manager_->start());
    EXPECT_EQ(backend_->installs, 1);

    xdotool({"keydown", "ctrl+alt+d"});
    EXPECT_EQ(eventsAfter(1), Events{"press"});
    manager_->stop();
    xdotool({"keyup", "ctrl+alt+d"});
    EXPECT_EQ(eventsAfter(1), Events{"press"});

    // Stopped, the combination reaches the window again (as a control character, no text).
    xdotool({"key", "ctrl+alt+d"});
    EXPECT_TRUE(test::waitUntil([&] { return !window_.keyPresses().empty(); }, 5s));

    ASSERT_TRUE(manager_->start());
    xdotool({"key", "ctrl+alt+d"});
    EXPECT_EQ(eventsAfter(3), (Events{"press", "press", "release"}));
}

TEST_F(HotkeyManagerX11Test, ACombinationAnotherClientHoldsCannotBeStarted) {
    ManualMainQueue otherQueue;
    HotkeyManager other(Hotkey::pushToTalk(), otherQueue);
    ASSERT_TRUE(other.start());
    EXPECT_FALSE(manager_->start());
    EXPECT_FALSE(manager_->isStarted());

    other.stop();
    ASSERT_TRUE(manager_->start());
    xdotool({"key", "ctrl+alt+d"});
    EXPECT_EQ(eventsAfter(2), (Events{"press", "release"}));
}

TEST_F(HotkeyManagerX11Test, FollowsTheDKeyWhenTheLayoutChanges) {
    ASSERT_TRUE(manager_->start());
    // On Dvorak the D keysym sits on another key (xdotool presses that one); with Russian
    // active the D key types a Cyrillic letter and the English group beside it holds the d.
    for (const std::vector<std::string>& layout :
         {std::vector<std::string>{"-layout", "us", "-variant", "dvorak"},
          std::vector<std::string>{"-layout", "ru,us"}}) {
        SCOPED_TRACE(layout[1]);
        runX11Tool("setxkbmap", layout);
        std::this_thread::sleep_for(300ms);
        xdotool({"key", "ctrl+alt+d"});
        const auto events = eventsAfter(2);
        runX11Tool("setxkbmap", {"-layout", "us"});
        EXPECT_EQ(events, (Events{"press", "release"}));
        events_.clear();
    }
    EXPECT_EQ(window_.text(), "");
}

TEST_F(HotkeyManagerX11Test, WorkStillQueuedWhenTheManagerGoesDoesNothing) {
    ASSERT_TRUE(manager_->start());
    xdotool({"key", "ctrl+alt+d"});
    ASSERT_TRUE(test::waitUntil([&] { return queue_.pendingCount() == 2; }, 5s));
    EXPECT_EQ(events_, Events{}) << "callbacks must wait for the main queue";
    manager_.reset();
    queue_.drain();
    EXPECT_EQ(events_, Events{});
}

TEST(HotkeyManagerX11NoDisplay, StartFailsWithoutADisplay) {
    ManualMainQueue queue;
    HotkeyManager unreachable(Hotkey::pushToTalk(), queue,
                              std::make_unique<HotkeyManagerX11>(":97531"));
    EXPECT_FALSE(unreachable.start());
    EXPECT_FALSE(unreachable.isStarted());

    test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    HotkeyManager withoutDisplay(Hotkey::pushToTalk(), queue);
    EXPECT_FALSE(withoutDisplay.start());
    unreachable.stop();
}

}  // namespace
}  // namespace quenda
