// Latency of the push-to-talk hotkey and of the paste, on the X server named by $DISPLAY
// (run it on a test desktop: it grabs Ctrl+Alt+D and types into a window of its own).
//   release: from the D key-up (sent through XTest) to onRelease running on the main queue
//   paste:   from pasteAtCursor to the text appearing in a separate window's text field
#include <X11/keysym.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "TestWindowProcess.h"
#include "input/HotkeyManager.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "input/Paster.h"
#include "platform_qt/PasteboardQt.h"

// After the Qt headers: Xlib's macros clash with them.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The main queue as the application has it: work posted to the Qt event loop.
class QtMainQueue : public quenda::MainQueue {
  public:
    void post(std::function<void()> work) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work),
                                  Qt::QueuedConnection);
    }
};

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (condition())
            return true;
        std::this_thread::sleep_for(100us);
    }
    return false;
}

void report(const char* name, const std::vector<double>& milliseconds) {
    std::printf("%-8s n=%zu  median %.3f ms  p95 %.3f ms  max %.3f ms\n", name, milliseconds.size(),
                quenda::bench::percentile(milliseconds, 0.5),
                quenda::bench::percentile(milliseconds, 0.95),
                quenda::bench::percentile(milliseconds, 1));
}

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int benchRelease(int rounds) {
    QtMainQueue queue;
    quenda::HotkeyManager hotkey(quenda::Hotkey::pushToTalk(), queue);
    int presses = 0, releases = 0;
    hotkey.onPress = [&] { ++presses; };
    hotkey.onRelease = [&] { ++releases; };
    if (!hotkey.start()) {
        std::fprintf(stderr, "the hotkey cannot be grabbed\n");
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    const KeyCode keys[] = {XKeysymToKeycode(display, XK_Control_L),
                            XKeysymToKeycode(display, XK_Alt_L), XKeysymToKeycode(display, XK_d)};
    std::vector<double> latencies;
    for (int round = 0; round < rounds; ++round) {
        for (const KeyCode key : keys)
            XTestFakeKeyEvent(display, key, True, CurrentTime);
        XSync(display, False);
        if (!pumpUntil([&] { return presses == round + 1; }))
            break;
        const auto start = Clock::now();
        XTestFakeKeyEvent(display, keys[2], False, CurrentTime);
        XFlush(display);
        if (!pumpUntil([&] { return releases == round + 1; }))
            break;
        latencies.push_back(since(start));
        XTestFakeKeyEvent(display, keys[1], False, CurrentTime);
        XTestFakeKeyEvent(display, keys[0], False, CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
    if (latencies.size() != static_cast<size_t>(rounds)) {
        std::fprintf(stderr, "a press or release never arrived\n");
        return 1;
    }
    report("release", latencies);
    return 0;
}

int benchPaste(int rounds) {
    quenda::test::TestWindowProcess window;
    quenda::PasteboardQt pasteboard;
    quenda::KeystrokeSynthesizerXTest keystrokes;
    std::string expected;
    std::vector<double> latencies;
    for (int round = 0; round < rounds; ++round) {
        const std::string text = "ação, ç, Ç — Olá " + std::to_string(round) + ". ";
        expected += text;
        const auto start = Clock::now();
        if (!quenda::Paster::pasteAtCursor(text, pasteboard, keystrokes) ||
            !pumpUntil([&] { return window.text() == expected; })) {
            std::fprintf(stderr, "paste %d did not arrive\n", round);
            return 1;
        }
        latencies.push_back(since(start));
    }
    report("paste", latencies);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    return benchRelease(200) || benchPaste(100);
}
