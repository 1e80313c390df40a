#include "TestWindowProcess.h"

#include <gtest/gtest.h>

#include <array>

#include <sstream>
#include <stdexcept>

// After everything else: Xlib defines macros (None, Bool) that clash with C++ headers.
#include <X11/Xlib.h>

namespace quenda::test {

TestWindowProcess::TestWindowProcess() {
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    process_ = Process::launch(QUENDA_TEST_WINDOW, {folder_.path().string()}, options);
    const bool ready = waitUntil(
        [&] { return std::filesystem::exists(folder_ / "ready") || !process_->isRunning(); });
    if (!process_->isRunning()) {
        process_->waitForExit();
        throw std::runtime_error("the test window exited with status " +
                                 std::to_string(*process_->exitStatus()) + ": " +
                                 process_->standardErrorText());
    }
    if (!ready)
        throw std::runtime_error("the test window did not get the keyboard focus");
    windowId_ = readFile(folder_ / "ready");
}

TestWindowProcess::~TestWindowProcess() {
    process_->terminate();
    process_->waitForExit();
}

std::string TestWindowProcess::text() const {
    return readFile(folder_ / "text");
}

std::vector<std::pair<int, int>> TestWindowProcess::keyPresses() const {
    std::vector<std::pair<int, int>> presses;
    std::istringstream lines(readFile(folder_ / "keys"));
    int key = 0, modifiers = 0;
    while (lines >> key >> modifiers)
        presses.emplace_back(key, modifiers);
    return presses;
}

void TestWindowProcess::focus() const {
    runX11Tool("xdotool", {"windowfocus", "--sync", windowId_});
}

void runX11Tool(const std::string& program, const std::vector<std::string>& arguments) {
    const auto result = runProgram("/usr/bin/" + program, arguments);
    ASSERT_EQ(result.status, 0) << program << " failed: " << result.err;
}

std::vector<int> x11KeysDown() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        throw std::runtime_error("no X display");
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

bool x11DisplayReachable(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display)
        XCloseDisplay(display);
    return display != nullptr;
}

}  // namespace quenda::test
