#include "TestWindowProcess.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace quenda::test {

TestWindowProcess::TestWindowProcess() {
    process_ = Process::launch(QUENDA_TEST_WINDOW, {folder_.path().string()});
    if (!waitUntil([&] { return std::filesystem::exists(folder_ / "ready"); }))
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

}  // namespace quenda::test
