// The installed `quenda` driven from the keyboard as a user drives it, on the test desktop
// (Xvfb, the test sound server) with a session bus of its own and the stand-in servers:
// dictation with the held hotkey and with `quenda --toggle`, a second start bringing the window
// forward, a file chosen in the dialog, the summary, copying, the interface language, live
// translation, and the ways out (the menu, SIGTERM during muted live translation and during a
// model load), after each of which nothing of Quenda is left behind.
//
// Keys go through xdotool (XTest) to the focused window; every wait is for something another
// program can see (a window's title or focus, the stand-in servers' records, the text field's
// content, the clipboard, the sound server's lists). A screenshot of the desktop after each step
// goes to build/<preset>/screenshots/e2e-*.png (the window as a user meets it), and one as a
// failure left it to e2e-failed-<test>.png.
#include <gtest/gtest.h>
#include <signal.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "AudioTestSupport.h"
#include "TestWindowProcess.h"
#include "audio/ProcessTapCapturePulse.h"
#include "fixtures/FakeServers.h"
#include "fixtures/TestAudio.h"
#include "support/QtTestSupport.h"
#include "support/SessionBus.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Child;

constexpr const char* kCaptureSink = audio::ProcessTapCapturePulse::kSinkName;

// Waits for a condition that takes an X client or pactl to look at: a few looks a second.
bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = 20s) {
    return test::waitUntil(condition, limit, [] { std::this_thread::sleep_for(50ms); });
}

// One xdotool command (keys to the focused window, a window search, ...); its first line out.
std::optional<std::string> xdotool(const std::vector<std::string>& arguments) {
    const auto result = test::runProgram("/usr/bin/xdotool", arguments, {}, 10s);
    if (result.status != 0)
        return std::nullopt;
    return result.out.substr(0, result.out.find('\n'));
}

void keys(const std::vector<std::string>& names) {
    std::vector<std::string> arguments{"key", "--delay", "20"};
    arguments.insert(arguments.end(), names.begin(), names.end());
    ASSERT_TRUE(xdotool(arguments)) << "xdotool key failed";
}

// The visible window whose title matches the regular expression, or empty.
std::string windowNamed(const std::string& title) {
    return xdotool({"search", "--onlyvisible", "--name", title}).value_or("");
}

std::string focusedWindow() {
    return xdotool({"getwindowfocus"}).value_or("none");
}

std::string clipboard() {
    return test::runProgram("/usr/bin/xclip", {"-o", "-selection", "clipboard"}, {}, 5s).out;
}

// Each test starts quenda with a fresh home on the test desktop, with a session bus of its own.
class WindowedApp : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "needs the test desktop (run through scripts/test)";
        ASSERT_TRUE(bus_.ready());
    }
    // The desktop as a failure left it (quenda still runs: it goes after this).
    void TearDown() override {
        if (HasFailure())
            screenshot(
                "failed-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    static void screenshot(const std::string& name) {
        fs::create_directories(QUENDA_SCREENSHOT_DIR);
        const auto file = fs::path(QUENDA_SCREENSHOT_DIR) / ("e2e-" + name + ".png");
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(
            QString::fromStdString(file.string())))
            << file;
    }

    // Starts an installed copy of quenda (the stand-in whisper server bundled, its model steered
    // by `directives`) with a fresh home, and waits for its window and for the speech server to
    // have reached `serverEvent`.
    void start(const std::vector<std::string>& directives, const char* serverEvent = "listening") {
        binary_ = test::installQuendaWithFakeServer(home_ / "install");
        home_.installModel("ggml-large-v3-turbo.bin", directives);
        ProcessOptions options;
        options.standardError = ProcessOptions::Output::capture;
        options.environment = home_.environment();
        quenda_ = test::launchChild(binary_, {}, options);
        ASSERT_TRUE(waitFor([&] {
            window_ = windowNamed("Quenda — Transcrição");
            return !window_.empty() && !home_.events(serverEvent).empty();
        })) << quenda_->standardErrorText();
    }
    // A second start that hands `argument` to the running one and ends.
    int handOver(const std::string& argument) const {
        return test::runProgram(binary_, {argument}, home_.environment(), 10s).status;
    }

    // Ends quenda (SIGTERM, or the keys of the menu's Quit) and checks that it leaves nothing:
    // its exit within five seconds, no speech server, no capture sink, `otherApplication`'s
    // stream back on its own sink, no temporary file.
    void expectCleanExit(const std::function<void()>& end, const char* how,
                         Process* otherApplication = nullptr) {
        const auto servers = home_.serverPids();
        end();
        EXPECT_EQ(quenda_->waitForExit(5s), 0) << how << ": " << quenda_->standardErrorText();
        for (const int server : servers)
            EXPECT_FALSE(test::processAlive(server)) << "a speech server outlived quenda";
        EXPECT_TRUE(test::modulesNaming(kCaptureSink).empty());
        if (otherApplication) {
            EXPECT_EQ(test::sinkOfProcess(otherApplication->pid()), "DefaultSink");
        }
        EXPECT_TRUE(fs::is_empty(home_.tmp()));
    }
    void terminate() { ::kill(quenda_->pid(), SIGTERM); }

    test::ScopedQtApplication<QGuiApplication> qt_;  // for the screenshots
    test::PrivateSessionBus bus_;
    test::UnloadModulesAtEnd unloadCaptureSink_{kCaptureSink};  // what a failed run leaves
    test::SpeechHome home_;
    fs::path binary_;
    Child quenda_;
    std::string window_;
};

// Plays `speech` into the default sink (which the microphone hears) once `quenda` records, and
// returns whether it recorded.
bool speakWhileRecording(Process& quenda, const fs::path& speech) {
    if (!waitFor([&] { return !test::pactlList("source-outputs", quenda.pid()).empty(); }, 10s))
        return false;
    auto player = test::launchChild("/usr/bin/paplay", {speech.string()});
    waitFor([&] { return !player->isRunning(); });
    return true;
}

TEST_F(WindowedApp, DictatesIntoAnotherApplicationWithTheHotkeyAndWithToggleCommands) {
    const std::string hotkeyText = "Ditado com o atalho.", toggleText = "Ditado com o comando.";
    ASSERT_NO_FATAL_FAILURE(start({"text_1 " + hotkeyText, "text_2 " + toggleText}));
    const auto speech = home_ / "fala.wav";
    test::makeSpeech(speech, "Bom dia a todos.");
    screenshot("01-started");

    // Ctrl+Alt+D held while the microphone hears speech: the text lands in another
    // application's focused field. (That it is saved too is the state's tests' to show.)
    test::TestWindowProcess field;
    xdotool({"search", "--onlyvisible", "--name", "quenda-test-window", "windowmove", "560", "40"});
    ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+d"}));
    const bool recorded = speakWhileRecording(*quenda_, speech);
    ASSERT_TRUE(xdotool({"keyup", "ctrl+alt+d"}));
    ASSERT_TRUE(recorded) << "Ctrl+Alt+D did not start a recording";
    ASSERT_TRUE(waitFor([&] { return field.text() == hotkeyText; })) << field.text();
    // The server heard the recording as it was made: as long as the speech at least.
    const auto heard = home_.inferences();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_GT(heard[0]["wav"].value("seconds", 0.0), test::wavSeconds(speech) - 0.5);
    screenshot("02-hotkey-dictation");

    // `quenda --toggle` twice, over the session bus: a second dictation, pasted after the first.
    ASSERT_EQ(handOver("--toggle"), 0);
    ASSERT_TRUE(speakWhileRecording(*quenda_, speech)) << "--toggle did not record";
    ASSERT_EQ(handOver("--toggle"), 0);
    ASSERT_TRUE(waitFor([&] { return field.text() == hotkeyText + toggleText; })) << field.text();
    screenshot("03-toggle-dictation");

    // A second start brings the running window forward (it takes the keyboard focus from the
    // field) and starts no speech server of its own.
    ASSERT_EQ(handOver("--show"), 0);
    ASSERT_TRUE(waitFor([&] { return focusedWindow() == window_; }, 5s));
    EXPECT_EQ(home_.serverPids().size(), 1u);

    // Quit from the menu: Alt+Q opens it, Up goes round to its last item.
    keys({"alt+q", "Up"});
    screenshot("04-quit-menu");
    expectCleanExit([] { keys({"Return"}); }, "Quit from the menu");
}

TEST_F(WindowedApp, FileSummaryCopyLanguageAndLiveTranslationFromTheKeyboard) {
    const std::string fileText = "O arquivo transcrito.", summary = "• Um resumo.";
    ASSERT_NO_FATAL_FAILURE(start({"text " + fileText}));
    // It answers the summary after a moment, so the window shows the work: the Summarise button
    // is disabled meanwhile, which sends the keyboard focus on to the next button, Copy.
    test::FakeOllamaServer ollama(home_ / "ollama",
                                  {{"response", summary}, {"delay_seconds", 0.3}});
    test::makeSpeech(home_ / "fala.wav", "Bom dia a todos.");
    test::makeTone(home_ / "other-application.wav", 60, 22050, 1);

    // The focus chain, top to bottom: the drop zone (focused at first), Model, App language,
    // Clean up, Fast mode, Video language, Speak, Mute, Start live translation, (the live lines
    // while shown), the last text, (the summary's buttons and text while shown), Transcribe
    // file, (Summarise and Copy while there is a last text), Quit. Enter on the drop zone opens
    // the file dialog; the path typed, Enter.
    keys({"Return"});
    std::string dialog;
    ASSERT_TRUE(waitFor([&] {
        dialog = windowNamed("Transcrever arquivo");
        return !dialog.empty() && focusedWindow() == dialog;
    })) << "no file dialog";
    ASSERT_TRUE(xdotool({"type", "--delay", "5", (home_ / "fala.wav").string()}));
    screenshot("05-file-dialog");
    keys({"Return"});
    ASSERT_TRUE(waitFor([&] { return clipboard() == fileText; })) << clipboard();
    // The focus back to the window, as a click would give it. (With no window manager on the
    // test desktop, nobody hands it back to the main window when a dialog closes.)
    xdotool({"windowfocus", window_});
    ASSERT_TRUE(waitFor([&] { return focusedWindow() == window_; }, 5s));
    screenshot("06-file-transcribed");

    // From the drop zone back round to Summarise: the summary is shown and copied (what is sent
    // to the language model is the state's and the client's tests' to show); then Copy (where
    // the focus went) copies the last text again.
    keys({"shift+Tab", "shift+Tab", "shift+Tab", "Return"});
    ASSERT_TRUE(waitFor([&] { return clipboard() == summary; })) << clipboard();
    screenshot("07-summary");
    keys({"Return"});
    ASSERT_TRUE(waitFor([&] { return clipboard() == fileText; })) << clipboard();

    // Round to App language; the next entry is English, and the title follows.
    keys({"Tab", "Tab", "Tab", "Tab", "Down"});
    ASSERT_TRUE(waitFor([&] { return !windowNamed("Quenda — Transcription").empty(); }));
    screenshot("08-english");

    // On to Start live translation (the original muted, as by default): another application's
    // sound goes to the capture sink, and back when quenda ends.
    auto other = test::startPaplay(home_ / "other-application.wav");
    keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "space"});
    ASSERT_TRUE(waitFor([&] { return test::sinkOfProcess(other->pid()) == kCaptureSink; }))
        << "live translation did not start";
    screenshot("09-live-translation");

    expectCleanExit([&] { terminate(); }, "SIGTERM during muted live translation", other.get());
}

TEST_F(WindowedApp, OpensWhileTheModelLoadsAndEndsAtOnceOnSigterm) {
    // The default model takes its time to load: the window must not wait for it.
    ASSERT_NO_FATAL_FAILURE(start({"load_seconds 60"}, "start"));
    expectCleanExit([&] { terminate(); }, "SIGTERM during the model load");
}

}  // namespace
}  // namespace quenda
