// The installed `quenda` started as a user starts it, on the test desktop with a session bus of
// its own: its window opens while the model still loads, a second start hands its command to
// the first, and a termination signal during the load ends it at once with nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "fixtures/FakeServers.h"
#include "support/SessionBus.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool windowShown() {
    return test::runProgram("/usr/bin/xdotool",
                            {"search", "--onlyvisible", "--name", "Quenda — Transcrição"})
               .status == 0;
}

TEST(WindowedApp, OpensAtOnceHandsOverToTheRunningOneAndEndsCleanlyOnSigterm) {
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.ready());
    test::TempDir dir;
    const auto quenda = test::installQuendaWithFakeServer(dir / "install");
    // The default model takes its time to load: the window must not wait for it.
    test::writeFakeModel(dir / "models/ggml-large-v3-turbo.bin", {"load_seconds 60"});
    fs::create_directories(dir / "tmp");
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    options.environment = {{"HOME", (dir / "home").string()},
                           {"XDG_DATA_HOME", (dir / "home/data").string()},
                           {"XDG_CONFIG_HOME", (dir / "home/config").string()},
                           {"QUENDA_MODELS_DIR", (dir / "models").string()},
                           {"TMPDIR", (dir / "tmp").string()},
                           {"FAKE_WHISPER_RECORD", (dir / "whisper.jsonl").string()}};
    const auto first = Process::launch(quenda, {}, options);
    const auto serverStarted = [&] { return !test::readRecord(dir / "whisper.jsonl").empty(); };
    // Looked for every tenth of a second: each look is an X client of its own.
    ASSERT_TRUE(test::waitUntil([&] { return serverStarted() && windowShown(); }, 40s,
                                [] { std::this_thread::sleep_for(100ms); }))
        << first->standardErrorText();

    // A second start shows the running window and ends; it starts no engine of its own.
    const auto second = Process::launch(quenda, {"--show"}, options);
    EXPECT_EQ(second->waitForExit(10s), 0) << second->standardErrorText();
    EXPECT_EQ(test::readRecord(dir / "whisper.jsonl", "event", "start").size(), 1u);
    EXPECT_TRUE(first->isRunning());

    const int server = test::readRecord(dir / "whisper.jsonl", "event", "start").at(0)["pid"];
    ASSERT_TRUE(test::processAlive(server));
    ::kill(first->pid(), SIGTERM);  // while the model is loading
    EXPECT_EQ(first->waitForExit(5s), 0) << first->standardErrorText();
    EXPECT_FALSE(test::processAlive(server)) << "the server outlived Quenda";
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

}  // namespace
}  // namespace quenda
