#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::test {

// The test window (one focused text field) running as a separate X client, and what it has
// received so far.
class TestWindowProcess {
  public:
    // Starts the window and waits until its field has the keyboard focus.
    TestWindowProcess();
    ~TestWindowProcess();

    std::string text() const;
    // One entry per key press the window received: {Qt key, Qt modifiers}.
    std::vector<std::pair<int, int>> keyPresses() const;
    // Gives the keyboard focus back to the window.
    void focus() const;

  private:
    TempDir folder_;
    std::unique_ptr<Process> process_;
    std::string windowId_;
};

// Runs xdotool (or another X tool) with `arguments`; fails the test when it fails.
void runX11Tool(const std::string& program, const std::vector<std::string>& arguments);

// The X key codes held down on the test display now.
std::vector<int> x11KeysDown();

// Whether an X server answers at `displayName`.
bool x11DisplayReachable(const std::string& displayName);

}  // namespace quenda::test
