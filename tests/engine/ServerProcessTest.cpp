// The engine's static catalog and its speech-server process, against the fake whisper-server.

#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "FakeServers.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "platform/LoopbackPorts.h"

namespace quenda {

void PrintTo(const EngineError& error, std::ostream* out) {
    *out << error.what();
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScopedEnv;
using test::thrown;
using Engine = TranscriptionEngine;

TEST(FindExecutable, LooksInTheResourceDirectoryFirstAndOnlyAtExecutableFiles) {
    test::TempDir resources;
    const std::string name = "quenda-test-tool-that-exists-nowhere";
    test::writeFile(resources / "bin" / name, "#!/bin/sh\n");
    EXPECT_FALSE(Engine::findExecutable(name, resources.path()));
    fs::permissions(resources / "bin" / name, fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(Engine::findExecutable(name, resources.path()), resources / "bin" / name);
    EXPECT_FALSE(Engine::findExecutable(name, std::nullopt));
    // The fixed system locations follow; the search path is not consulted.
    EXPECT_EQ(Engine::findExecutable("sh", resources.path()), fs::path("/usr/bin/sh"));
}

// Each test has its own home, models folder and fake-server record.
class ServerProcess : public ::testing::Test {
  protected:
    // The preferred port is the subject here: a server of the test program before, killed as
    // that program ended, may still be closing it.
    void SetUp() override {
        home.apply();
        ASSERT_TRUE(test::waitUntil([] { return isLoopbackPortFree(8642); }));
    }
    test::SpeechHome home;

    static ServerSettings fake(std::chrono::milliseconds loadLimit = 120s) {
        ServerSettings settings;
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        settings.loadTimeLimit = loadLimit;
        settings.stopGracePeriod = 300ms;
        return settings;
    }
    static std::string rootPage(uint16_t port) {
        return Http::get("http://127.0.0.1:" + std::to_string(port) + "/", 2s).body;
    }
    fs::path legacy(const std::string& file) { return home / "Developer/Brevimo/models" / file; }
};

TEST_F(ServerProcess, ModelFilesAreFoundInTheModelsDirectoryOrTheLegacyOneWhichIsCopiedOnUse) {
    {
        ScopedEnv unset("QUENDA_MODELS_DIR", std::nullopt);
        EXPECT_EQ(Engine::modelsDirectory(), home / "data/Quenda/models");
        EXPECT_TRUE(fs::is_directory(home / "data/Quenda/models"));
        ScopedEnv relative("QUENDA_MODELS_DIR", "rel/models");
        EXPECT_EQ(Engine::modelsDirectory(), fs::current_path() / "rel/models");
        ScopedEnv empty("QUENDA_MODELS_DIR", "");
        EXPECT_EQ(Engine::modelsDirectory(), fs::current_path());
    }
    // (A missing model, known or unknown, is reported through the command line.)
    EXPECT_FALSE(Engine::isModelInstalled("base"));

    // A legacy file counts as installed; asking only looks, even where the models directory
    // does not exist (it is never created, so the copy on use fails there).
    test::writeFile(legacy("ggml-base.bin"), "modelo antigo");
    EXPECT_TRUE(Engine::isModelInstalled("base"));
    EXPECT_FALSE(fs::exists(home / "models"));
    EXPECT_THROW(Engine::modelPath("base"), fs::filesystem_error);

    // Used: copied once (the legacy file stays), and a copy's leftover from a crash goes. (Which
    // temporary files a writer may remove is checked with the files' own tests.)
    test::writeFile(home / "models/ggml-base.bin.copy-0A1B2C3D-0000-4000-8000-00000000CAFE", "x");
    const auto copied = home / "models/ggml-base.bin";
    EXPECT_EQ(Engine::modelPath("base"), copied);
    EXPECT_EQ(test::readFile(copied), "modelo antigo");
    test::writeFile(legacy("ggml-base.bin"), "mudou");
    EXPECT_EQ(Engine::modelPath("base"), copied);
    EXPECT_EQ(test::readFile(copied), "modelo antigo");
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "models"), {}), 1);

    test::writeFile(home / "models/ggml-large-v3-turbo.bin", "");
    EXPECT_TRUE(Engine::isModelInstalled("large-v3-turbo"));
}

TEST_F(ServerProcess, StartsWithTheFixedArgumentsReusesSwitchesModelAndStops) {
    auto model = home.installModel("ggml-base.bin");
    home.installModel("ggml-large-v3-turbo.bin");
    Engine engine(fake());
    engine.ensureServer("base");
    ASSERT_EQ(home.events("start").size(), 1u);
    EXPECT_EQ(home.events("start")[0]["args"],
              nlohmann::json(
                  {"-m", model.string(), "-l", "pt", "--port", "8642", "--host", "127.0.0.1"}));
    engine.ensureServer("base");  // same model: reused, no new process
    EXPECT_EQ(home.serverPids().size(), 1u);

    engine.ensureServer("large-v3-turbo");
    auto pids = home.serverPids();
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_FALSE(test::processAlive(pids[0]));
    EXPECT_NE(rootPage(engine.serverPort()).find("ggml-large-v3-turbo.bin"), std::string::npos);

    engine.stopServer();
    EXPECT_FALSE(test::processAlive(pids[1]));
    // Each was asked to stop with SIGTERM, not killed, and nothing else stopped them.
    ASSERT_EQ(home.events("stop").size(), 2u);
    for (const auto& stop : home.events("stop"))
        EXPECT_EQ(stop["signal"], SIGTERM);
    engine.stopServer();  // nothing running: no effect
}

TEST_F(ServerProcess, AServerThatIgnoresSIGTERMIsKilledAndGoneWhenTheStopReturns) {
    home.installModel("ggml-base.bin", {"ignore_sigterm"});
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destruction" : "stopServer");
        {
            Engine engine(fake());
            engine.ensureServer("base");
            if (!destroy)
                engine.stopServer();
        }
        const int pid = home.serverPids().back();
        EXPECT_FALSE(test::processAlive(pid)) << "the server outlived the stop";
        EXPECT_THAT(home.events("ignored_stop"),
                    ::testing::Contains(nlohmann::json(
                        {{"event", "ignored_stop"}, {"pid", pid}, {"signal", SIGTERM}})));
    }
}

// A program that cannot run starts nothing. A server that exits while loading is reported at
// once (the load limit is far away); one that never answers, or answers 500 and up, is ended at
// the deadline. Each failure, and a server that dies later, leaves nothing running, and the next
// call starts afresh. (A missing model, and no server program at all, are checked through the
// command line.)
TEST_F(ServerProcess, FailedStartsAreReportedEndTheirServerAndTheNextCallStartsAfresh) {
    auto notExecutable = fake();
    notExecutable.serverProgram = home.installModel("ggml-base.bin");
    EXPECT_EQ(thrown<EngineError>([&] { Engine(notExecutable).ensureServer("base"); }),
              EngineError::serverFailed("Permission denied"));
    EXPECT_TRUE(home.serverPids().empty());
    const auto exited = EngineError::serverFailed("processo encerrou ao carregar o modelo");
    const auto timedOut = EngineError::serverFailed("tempo esgotado ao carregar o modelo");
    const std::pair<std::string, EngineError> cases[] = {
        {"exit_after_load 7", exited},
        {"never_listen", timedOut},
        {"root_status 503", timedOut},
    };
    Engine engine(fake(1500ms));
    for (const auto& [directives, error] : cases) {
        SCOPED_TRACE(directives);
        home.installModel("ggml-base.bin", {directives});
        const size_t before = home.serverPids().size();
        EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }), error);
        ASSERT_EQ(home.serverPids().size(), before + 1);
        EXPECT_FALSE(test::processAlive(home.serverPids().back()));
    }
    // Any status below 500 is an answer; a server that dies later is reaped and replaced.
    home.installModel("ggml-base.bin", {"load_seconds 0.4", "root_status 404"});
    engine.ensureServer("base");  // returns once the server answers
    ::kill(home.serverPids().back(), SIGKILL);
    EXPECT_TRUE(test::waitUntil([&] { return !test::processAlive(home.serverPids().back()); }))
        << "the killed server did not end";
    home.installModel("ggml-base.bin");
    engine.ensureServer("base");  // not the dead server: a new one
    EXPECT_EQ(home.serverPids().size(), 5u);
}

TEST_F(ServerProcess, TwoEnginesNeverShareAPort) {
    home.installModel("ggml-base.bin");
    home.installModel("ggml-large-v3-turbo.bin");
    Engine first(fake()), second(fake());
    first.ensureServer("base");
    second.ensureServer("large-v3-turbo");
    EXPECT_NE(second.serverPort(), 8642);
    // Each engine's port is answered by its own server.
    EXPECT_NE(rootPage(first.serverPort()).find("ggml-base.bin"), std::string::npos);
    EXPECT_NE(rootPage(second.serverPort()).find("ggml-large-v3-turbo.bin"), std::string::npos);
}

// A stop while a model loads (a server that never answers and ignores SIGTERM) ends the load
// at once: had it waited, the start would end at the load limit with the time-out failure.
TEST_F(ServerProcess, AStopWhileLoadingEndsTheLoadAtOnceAndTheNextStartWorks) {
    const auto exited = EngineError::serverFailed("processo encerrou ao carregar o modelo");
    for (const bool byToken : {false, true}) {
        SCOPED_TRACE(byToken ? "abandoned by its caller" : "stopServer");
        home.installModel("ggml-base.bin", {"never_listen", "ignore_sigterm"});
        const size_t before = home.serverPids().size();
        Engine engine(fake(30s));
        std::stop_source abandon;
        std::optional<EngineError> failure;
        std::jthread starter([&] {
            try {
                engine.ensureServer("base", abandon.get_token());
            } catch (const EngineError& error) {
                failure = error;
            }
        });
        ASSERT_TRUE(test::waitUntil([&] { return home.serverPids().size() > before; }));
        byToken ? (void)abandon.request_stop() : engine.stopServer();
        starter.join();
        EXPECT_EQ(failure, exited);
        EXPECT_FALSE(test::processAlive(home.serverPids().back()));

        home.installModel("ggml-base.bin");
        engine.ensureServer("base");
    }
    // Already abandoned: nothing starts.
    std::stop_source abandoned;
    abandoned.request_stop();
    const size_t started = home.serverPids().size();
    Engine engine(fake());
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base", abandoned.get_token()); }),
              exited);
    EXPECT_EQ(home.serverPids().size(), started);
}

}  // namespace
}  // namespace quenda
