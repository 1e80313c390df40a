// Pasting into a separate test window through the Qt clipboard and XTest, on the test
// desktop's X server.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <thread>

#include "TestWindowProcess.h"
#include "clipboard_qt/PasteboardQt.h"
#include "state/HotkeyManager.h"
#include "state/KeystrokeSynthesizerXTest.h"
#include "state/Paster.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
using test::runX11Tool;

const std::string sample = "ação, ç, Ç — Olá";
constexpr int qtKeyV = 0x56;
constexpr int qtControlModifier = 0x04000000;

// Waits while serving this process's events: the clipboard is handed to other applications
// from the event loop.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (condition())
            return true;
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

// An X server of its own without the XTest extension.
class XvfbWithoutXTest {
  public:
    XvfbWithoutXTest() {
        for (int number = 90; number < 120 && name_.empty(); ++number) {
            if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            const std::string name = ":" + std::to_string(number);
            server_ =
                Process::launch("/usr/bin/Xvfb", {name, "-extension", "XTEST", "-nolisten", "tcp"});
            const bool up = test::waitUntil([&] {
                if (!server_->isRunning())
                    return true;
                return test::x11DisplayReachable(name);
            });
            if (up && server_->isRunning())
                name_ = name;
        }
    }
    ~XvfbWithoutXTest() {
        if (server_) {
            server_->terminate();
            server_->waitForExit();
        }
    }
    const std::string& name() const { return name_; }

  private:
    std::unique_ptr<Process> server_;
    std::string name_;
};

class PasterX11Test : public ::testing::Test {
  protected:
    int ctrlVPresses() const {
        int count = 0;
        for (const auto& [key, modifiers] : window_.keyPresses())
            count += key == qtKeyV;
        return count;
    }
    int plainCtrlVPresses() const {
        int count = 0;
        for (const auto& [key, modifiers] : window_.keyPresses())
            count += key == qtKeyV && modifiers == qtControlModifier;
        return count;
    }

    test::TestWindowProcess window_;
    PasteboardQt pasteboard_;
    KeystrokeSynthesizerXTest keystrokes_;
};

TEST_F(PasterX11Test, PastesTheTextIntoTheFocusedWindowPastTheHotkey) {
    ManualMainQueue queue;
    HotkeyManager hotkey(Hotkey::pushToTalk(), queue);
    int presses = 0;
    hotkey.onPress = [&] { ++presses; };
    ASSERT_TRUE(hotkey.start());

    ASSERT_TRUE(Paster::pasteAtCursor(sample, pasteboard_, keystrokes_));
    EXPECT_TRUE(pumpUntil([&] { return window_.text() == sample; })) << window_.text();
    EXPECT_EQ(plainCtrlVPresses(), 1);
    EXPECT_EQ(ctrlVPresses(), 1);
    EXPECT_EQ(clipboardSeenByOthers(), sample);
    queue.drain();
    EXPECT_EQ(presses, 0);
}

TEST_F(PasterX11Test, HeldModifiersDoNotSpoilThePaste) {
    runX11Tool("xdotool", {"keydown", "alt"});
    const auto held = test::x11KeysDown();
    ASSERT_EQ(held.size(), 1u);

    const bool posted = Paster::pasteAtCursor(sample, pasteboard_, keystrokes_);
    const bool pasted = pumpUntil([&] { return window_.text() == sample; });
    // The user still holds Alt after the paste, and nothing else.
    EXPECT_EQ(test::x11KeysDown(), held);
    runX11Tool("xdotool", {"keyup", "alt"});

    EXPECT_TRUE(posted);
    EXPECT_TRUE(pasted) << window_.text();
    EXPECT_EQ(plainCtrlVPresses(), 1);
    EXPECT_EQ(test::x11KeysDown(), std::vector<int>{});
}

TEST_F(PasterX11Test, FindsTheVKeyInOtherLayouts) {
    // On Dvorak the QWERTY V position types "k"; with Russian active the key types a
    // Cyrillic letter, and the English layout beside it holds the v.
    for (const std::vector<std::string>& layout :
         {std::vector<std::string>{"-layout", "us", "-variant", "dvorak"},
          std::vector<std::string>{"-layout", "ru,us"}}) {
        SCOPED_TRACE(layout[1]);
        runX11Tool("setxkbmap", layout);
        std::this_thread::sleep_for(200ms);
        const std::string text = sample + " " + layout[1];
        const bool posted = Paster::pasteAtCursor(text, pasteboard_, keystrokes_);
        const bool pasted = pumpUntil([&] { return window_.text() == text; });
        runX11Tool("setxkbmap", {"-layout", "us"});
        EXPECT_TRUE(posted);
        EXPECT_TRUE(pasted) << window_.text();
        runX11Tool("xdotool", {"key", "ctrl+a", "BackSpace"});
        EXPECT_TRUE(pumpUntil([&] { return window_.text().empty(); }));
    }
}

TEST_F(PasterX11Test, AnEmptyTextEmptiesTheClipboardAndStillPastes) {
    pasteboard_.setString("previous");
    ASSERT_TRUE(Paster::pasteAtCursor("", pasteboard_, keystrokes_));
    EXPECT_TRUE(pumpUntil([&] { return plainCtrlVPresses() == 1; }));
    EXPECT_EQ(clipboardSeenByOthers(), "");
    EXPECT_EQ(window_.text(), "");
}

TEST_F(PasterX11Test, WithoutXTestOrADisplayTheTextStaysOnTheClipboard) {
    XvfbWithoutXTest withoutXTest;
    ASSERT_FALSE(withoutXTest.name().empty()) << "no private X server";
    for (const std::string& display : {withoutXTest.name(), std::string(":97531")}) {
        SCOPED_TRACE(display);
        KeystrokeSynthesizerXTest unusable(display);
        const std::string text = sample + display;
        EXPECT_FALSE(unusable.isTrusted());
        EXPECT_FALSE(Paster::pasteAtCursor(text, pasteboard_, unusable));
        EXPECT_EQ(clipboardSeenByOthers(), text);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(ctrlVPresses(), 0);
    EXPECT_EQ(window_.text(), "");
}

}  // namespace
}  // namespace quenda

// The Qt application exists only while tests run, not while they are merely listed.
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    QtApplicationEnvironment(int& argc, char** argv) : argc_(argc), argv_(argv) {}
    void SetUp() override { app_ = std::make_unique<QGuiApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int& argc_;
    char** argv_;
    std::unique_ptr<QGuiApplication> app_;
};

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment(argc, argv));
    return RUN_ALL_TESTS();
}
