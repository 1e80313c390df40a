// Push-to-talk on a wlroots desktop, set up as a user sets it up: sway binds Ctrl+Alt+D's press
// to `quenda --ptt-press` and its release to `quenda --ptt-release`. The installed quenda runs on
// a headless sway (the "sway" CTest fixture) with the stand-in speech server; Ctrl+Alt+D held
// through a virtual keyboard while the microphone hears speech puts the text, accents intact,
// into a native Wayland field through wl-copy and wtype.
//
// sway runs as another user than the tests when they run as root (it refuses root), so the
// commands it starts reach quenda over a session bus that lets other users in, and the
// installation is readable by everyone.
#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestWindowProcess.h"
#include "fixtures/FakeServers.h"
#include "fixtures/TestAudio.h"
#include "support/SessionBus.h"
#include "support/SwaySession.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;

TEST(WaylandDictation, CtrlAltDBoundInSwayDictatesIntoAWaylandField) {
    const auto sway = test::SwaySession::find();
    if (!sway)
        GTEST_SKIP() << "no headless sway (is sway installed?)";
    if (!std::getenv("PULSE_SERVER"))
        GTEST_SKIP() << "needs the test desktop's sound server (run through scripts/test)";
    test::PrivateSessionBus bus(test::PrivateSessionBus::Users::anyUser);
    ASSERT_TRUE(bus.ready());

    const std::string text = "Olá, ação é ç.";
    test::SpeechHome home;
    const auto binary = test::installQuendaWithFakeServer(home / "install");
    home.installModel("ggml-large-v3-turbo.bin", {"text " + text});
    test::makeSpeech(home / "fala.wav", "Bom dia a todos.");
    // Every user may read it, enter its folders and run its programs.
    ASSERT_EQ(test::runProgram("/bin/chmod", {"-R", "a+rX", home.path().string()}).status, 0);

    // This process and the programs it starts (the field, quenda) are Wayland clients of sway.
    test::TempDir runtime;
    test::ScopedEnv display("WAYLAND_DISPLAY", sway->display),
        runtimeDir("XDG_RUNTIME_DIR", runtime.path().string()),
        platform("QT_QPA_PLATFORM", "wayland"), session("XDG_SESSION_TYPE", "wayland"),
        desktop("XDG_CURRENT_DESKTOP", "sway");
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    options.environment = home.environment();
    auto quenda = test::launchChild(binary, {}, options);
    const auto recording = [&] {
        return !test::pactlList("source-outputs", quenda->pid()).empty();
    };
    ASSERT_TRUE(test::waitUntil([&] { return !home.events("listening").empty(); }, 20s))
        << quenda->standardErrorText();

    // As a sway user writes it in the config; the commands run with sway's environment (its
    // display) and find the running quenda on the session bus. The bindings live in the shared
    // sway: they go when the test does.
    const std::shared_ptr<void> unbind(nullptr, [&](void*) {
        sway->command("unbindsym --no-repeat Ctrl+Alt+d");
        sway->command("unbindsym --release Ctrl+Alt+d");
    });
    const std::string command = " Ctrl+Alt+d exec env DBUS_SESSION_BUS_ADDRESS=" + bus.address() +
                                " QT_QPA_PLATFORM=wayland " + binary.string();
    ASSERT_TRUE(sway->command("bindsym --no-repeat" + command + " --ptt-press"));
    ASSERT_TRUE(sway->command("bindsym --release" + command + " --ptt-release"));

    test::TestWindowProcess field;
    ASSERT_TRUE(field.waitForWaylandKeyboard());
    // One virtual keyboard holds Ctrl+Alt+D for four seconds; the speech plays once quenda
    // records.
    auto hold = test::launchChild("/usr/bin/wtype", {"-M", "ctrl", "-M", "alt", "-P", "d", "-s",
                                                     "4000", "-p", "d", "-m", "alt", "-m", "ctrl"});
    const bool recorded = test::waitUntil(recording, 3s);
    if (recorded) {
        auto speech = test::launchChild("/usr/bin/paplay", {(home / "fala.wav").string()});
        test::waitUntil([&] { return !speech->isRunning(); }, 10s);
    }
    ASSERT_EQ(hold->waitForExit(10s), 0);
    ASSERT_TRUE(recorded) << "the press bound in sway did not start a recording: "
                          << quenda->standardErrorText();
    if (!test::waitUntil([&] { return field.text() == text; }, 15s)) {
        // When the field lost track of the keyboard focus it may have missed the clipboard's
        // new content; the text must then be on the clipboard.
        ASSERT_TRUE(field.lostWaylandFocusTrack())
            << "text [" << field.text() << "]; quenda: " << quenda->standardErrorText()
            << "; the field's warnings: " << field.warnings();
        EXPECT_EQ(test::runProgram("/usr/bin/wl-paste", {"--no-newline"}).out, text);
    }
    // (How much of the speech the recording holds is the windowed test's to show.)
    EXPECT_FALSE(recording()) << "the release did not stop the recording";

    quenda->terminate();
    EXPECT_EQ(quenda->waitForExit(5s), 0) << quenda->standardErrorText();
}

}  // namespace
}  // namespace quenda
