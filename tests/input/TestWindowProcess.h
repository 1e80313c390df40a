#pragma once

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::test {

// The test window (one focused text field) running as a separate X client, and what it has
// received so far. The constructor returns once the field has the keyboard focus.
class TestWindowProcess {
  public:
    TestWindowProcess() {
        ProcessOptions options;
        options.standardError = ProcessOptions::Output::capture;
        process_ = Process::launch(QUENDA_TEST_WINDOW, {folder_.path().string()}, options);
        waitUntil(
            [&] { return std::filesystem::exists(folder_ / "ready") || !process_->isRunning(); });
        if (!std::filesystem::exists(folder_ / "ready")) {
            process_->stop(std::chrono::seconds(5));
            throw std::runtime_error("the test window never had the keyboard focus: " +
                                     process_->standardErrorText());
        }
    }
    ~TestWindowProcess() { process_->stop(std::chrono::seconds(5)); }

    std::string text() const { return readFile(folder_ / "text"); }

    // On Wayland, Qt counts the window as active before the compositor's keyboard focus
    // arrives, and keys sent in between reach nobody: Escape (which the field ignores) is sent
    // with wtype until one arrives.
    bool waitForWaylandKeyboard() const {
        constexpr int kQtKeyEscape = 0x01000000;
        return waitUntil([&] {
            runProgram("/usr/bin/wtype", {"-k", "Escape"});
            return waitUntil([&] { return !presses(kQtKeyEscape).empty(); },
                             std::chrono::milliseconds(200));
        });
    }

    // Qt 6.4 on sway 1.7 now and then loses track of the keyboard focus while virtual
    // keyboards (wtype's) come and go, and says so; the window can then miss a new clipboard
    // content. A fault of that client and compositor, not of what the tests check.
    bool lostWaylandFocusTrack() const {
        return warnings().find("Ignoring unexpected wl_keyboard.leave") != std::string::npos;
    }

    // What the window has written to its standard error so far (Qt's warnings).
    std::string warnings() const { return process_->standardErrorText(); }

    // The Qt modifiers of every press of `qtKey` the window received.
    std::vector<int> presses(int qtKey) const {
        std::vector<int> modifiers;
        std::istringstream lines(readFile(folder_ / "keys"));
        for (int key = 0, held = 0; lines >> key >> held;) {
            if (key == qtKey)
                modifiers.push_back(held);
        }
        return modifiers;
    }

  private:
    TempDir folder_;
    std::unique_ptr<Process> process_;
};

}  // namespace quenda::test
