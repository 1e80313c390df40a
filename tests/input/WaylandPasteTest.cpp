// The Wayland paste path on a headless sway (started by the "sway" CTest fixture): wl-copy puts
// the text on the clipboard, wtype sends Ctrl+V, and a native Wayland text field receives it.
#include <gtest/gtest.h>

#include <iostream>

#include "TestWindowProcess.h"
#include "input/KeystrokeSynthesizerWtype.h"
#include "input/PasteboardWlCopy.h"
#include "input/Paster.h"
#include "support/SwaySession.h"

namespace quenda {
namespace {

class WaylandPasteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!sway_)
            GTEST_SKIP() << "no headless sway (is sway installed?)";
    }

    const std::optional<test::SwaySession> sway_ = test::SwaySession::find();
    test::TempDir runtime_;
    test::ScopedEnv wayland_{"WAYLAND_DISPLAY",
                             sway_ ? std::optional(sway_->display) : std::nullopt};
    test::ScopedEnv runtimeDir_{"XDG_RUNTIME_DIR", runtime_.path().string()};
    test::ScopedEnv platform_{"QT_QPA_PLATFORM", "wayland"};
};

TEST_F(WaylandPasteTest, AccentedTextArrivesInANativeWaylandField) {
    const std::string text = "Olá, ação é ç";
    test::TestWindowProcess field;
    ASSERT_TRUE(field.waitForWaylandKeyboard());
    PasteboardWlCopy clipboard;
    KeystrokeSynthesizerWtype keystrokes;
    ASSERT_TRUE(keystrokes.isTrusted());
    EXPECT_TRUE(Paster::pasteAtCursor(text, clipboard, keystrokes));
    const auto arrived = [&] {
        return test::waitUntil([&] { return field.text() == text; }, std::chrono::seconds(5));
    };
    bool pasted = arrived();
    if (!pasted && field.lostWaylandFocusTrack()) {
        std::cout << "the field lost track of the keyboard focus; pasting once more\n";
        EXPECT_TRUE(Paster::pasteAtCursor(text, clipboard, keystrokes));
        pasted = arrived();
    }
    EXPECT_TRUE(pasted) << "text [" << field.text()
                        << "], Ctrl+V presses: " << field.presses(0x56).size()
                        << ", the field's warnings: " << field.warnings();
    EXPECT_EQ(clipboard.string(), text);
}

// Without wtype no paste is attempted (that the text then stays on the clipboard is the
// paster's, shown on X11).
TEST_F(WaylandPasteTest, WithoutWtypeThePasteIsNotTrusted) {
    test::TempDir bin;
    test::ScopedEnv path("PATH", bin.path().string());
    EXPECT_FALSE(KeystrokeSynthesizerWtype().isTrusted());
}

}  // namespace
}  // namespace quenda
