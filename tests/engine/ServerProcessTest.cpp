// The engine's static catalog and its speech-server process, against the fake whisper-server.

#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScopedEnv;
using test::thrown;
using Engine = TranscriptionEngine;

// The other descriptions are checked byte for byte through the command line (tests/e2e).
TEST(EngineError, DescriptionsAreTheFixedPortugueseTexts) {
    EXPECT_STREQ(
        EngineError::needsFFmpeg(".opus").what(),
        "Para .opus instale o ffmpeg (brew install ffmpeg) ou converta para .m4a/.mp3/.wav.");
    EXPECT_EQ(EngineError::conversionFailed("x").errorDescription(), "Falha ao converter áudio: x");
}

TEST(ModelCatalog, KnowsTheTwoModelsInPickerOrderByExactIdentifier) {
    const auto& models = Engine::availableModels();
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].file, "ggml-large-v3-turbo.bin");
    EXPECT_TRUE(models[1].url.ends_with("/resolve/main/ggml-base.bin"));
    EXPECT_EQ(Engine::modelInfo("large-v3-turbo"), models[0]);
    EXPECT_EQ(Engine::modelInfo("base"), models[1]);
    EXPECT_FALSE(Engine::modelInfo("Base"));
    EXPECT_FALSE(Engine::modelInfo(""));
}

TEST(FindExecutable, LooksInTheResourceDirectoryFirstAndOnlyAtExecutableFiles) {
    test::TempDir resources;
    const std::string name = "quenda-test-tool-that-exists-nowhere";
    EXPECT_FALSE(Engine::findExecutable(name, resources.path()));
    test::writeFile(resources / "bin" / name, "#!/bin/sh\n");
    EXPECT_FALSE(Engine::findExecutable(name, resources.path()));
    fs::permissions(resources / "bin" / name, fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_EQ(Engine::findExecutable(name, resources.path()), resources / "bin" / name);
    EXPECT_FALSE(Engine::findExecutable(name, std::nullopt));
    // The fixed system locations follow; the search path is not consulted.
    EXPECT_EQ(Engine::findExecutable("sh", resources.path()), fs::path("/usr/bin/sh"));
}

// Each test has its own home, data directory, models directory and fake-server record.
class ServerProcess : public ::testing::Test {
  protected:
    test::TempDir dir;
    ScopedEnv home{"HOME", dir.path().string()};
    ScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    ScopedEnv models{"QUENDA_MODELS_DIR", (dir / "models").string()};
    ScopedEnv record{"FAKE_WHISPER_RECORD", (dir / "record.jsonl").string()};

    // A model file the fake server understands, with optional directives.
    fs::path installModel(const std::string& file, const std::string& directives = "") {
        test::writeFile(dir / "models" / file, "fake-ggml-model\n" + directives);
        return dir / "models" / file;
    }
    static ServerSettings fake(std::chrono::milliseconds loadLimit = 120s) {
        ServerSettings settings;
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        settings.loadTimeLimit = loadLimit;
        return settings;
    }
    std::vector<nlohmann::json> events(const std::string& kind) {
        return test::readRecord(dir / "record.jsonl", "event", kind);
    }
    std::vector<int> serverPids() {
        std::vector<int> pids;
        for (auto& start : events("start"))
            pids.push_back(start["pid"].get<int>());
        return pids;
    }
    static std::string rootPage(uint16_t port) {
        return Http::get("http://127.0.0.1:" + std::to_string(port) + "/", 2s).body;
    }
    static bool gone(int pid) {
        return test::waitUntil([&] { return !test::processAlive(pid); });
    }
    fs::path legacy(const std::string& file) { return dir / "Developer/Brevimo/models" / file; }
};

TEST_F(ServerProcess, ModelsLiveUnderTheDataDirectoryOrWhereTheOverrideSays) {
    {
        ScopedEnv unset("QUENDA_MODELS_DIR", std::nullopt);
        EXPECT_EQ(Engine::modelsDirectory(), dir / "data/Quenda/models");
        EXPECT_TRUE(fs::is_directory(dir / "data/Quenda/models"));
    }
    ScopedEnv elsewhere("QUENDA_MODELS_DIR", (dir / "elsewhere/models").string());
    EXPECT_EQ(Engine::modelsDirectory(), dir / "elsewhere/models");
    // Never created, so a legacy file cannot be copied into it.
    test::writeFile(legacy("ggml-base.bin"), "modelo antigo");
    EXPECT_FALSE(Engine::isModelInstalled("base"));
    EXPECT_THROW(Engine::modelPath("base"), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));

    ScopedEnv relative("QUENDA_MODELS_DIR", "rel/models");
    EXPECT_EQ(Engine::modelsDirectory(), fs::current_path() / "rel/models");
}

TEST_F(ServerProcess, InstalledIsAnyFileAtTheDestinationOrALegacyOneCopiedOnce) {
    EXPECT_EQ(thrown<EngineError>([] { Engine::modelPath("tiny"); }),
              EngineError::modelNotFound("tiny"));
    EXPECT_EQ(thrown<EngineError>([] { Engine::modelPath("base"); }),
              EngineError::modelNotFound("ggml-base.bin"));
    EXPECT_FALSE(Engine::isModelInstalled("base"));
    EXPECT_FALSE(Engine::isModelInstalled("tiny"));

    test::writeFile(dir / "models/ggml-base.bin", "");
    EXPECT_TRUE(Engine::isModelInstalled("base"));
    EXPECT_EQ(Engine::modelPath("base"), dir / "models/ggml-base.bin");

    test::writeFile(legacy("ggml-large-v3-turbo.bin"), "pesos antigos");
    EXPECT_TRUE(Engine::isModelInstalled("large-v3-turbo"));
    const auto copied = dir / "models/ggml-large-v3-turbo.bin";
    EXPECT_EQ(test::readFile(copied), "pesos antigos");
    EXPECT_EQ(test::readFile(legacy("ggml-large-v3-turbo.bin")), "pesos antigos");
    // Once copied, the legacy location is not looked at again; nothing else was left behind.
    test::writeFile(legacy("ggml-large-v3-turbo.bin"), "mudou");
    EXPECT_EQ(Engine::modelPath("large-v3-turbo"), copied);
    EXPECT_EQ(test::readFile(copied), "pesos antigos");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "models"), {}), 2);
}

TEST_F(ServerProcess, StartsWithTheFixedArgumentsReusesSwitchesModelAndStops) {
    auto model = installModel("ggml-base.bin");
    installModel("ggml-large-v3-turbo.bin");
    Engine engine(fake());
    EXPECT_FALSE(Engine::ping());
    engine.ensureServer("base");
    EXPECT_TRUE(Engine::ping());
    EXPECT_EQ(engine.serverPort(), 8642);
    ASSERT_EQ(events("start").size(), 1u);
    EXPECT_EQ(events("start")[0]["args"],
              nlohmann::json(
                  {"-m", model.string(), "-l", "pt", "--port", "8642", "--host", "127.0.0.1"}));
    engine.ensureServer("base");  // same model: reused, no new process
    EXPECT_EQ(serverPids().size(), 1u);

    engine.ensureServer("large-v3-turbo");
    auto pids = serverPids();
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_TRUE(gone(pids[0]));
    EXPECT_NE(rootPage(engine.serverPort()).find("ggml-large-v3-turbo.bin"), std::string::npos);

    engine.stopServer();
    EXPECT_TRUE(gone(pids[1]));
    // Each was asked to stop with SIGTERM, not killed.
    ASSERT_EQ(events("stop").size(), 2u);
    EXPECT_EQ(events("stop")[1]["signal"], SIGTERM);
    engine.stopServer();  // nothing running: no effect
    EXPECT_FALSE(Engine::ping());
}

TEST_F(ServerProcess, MissingProgramOrModelStartsNothing) {
    Engine engine(fake());
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }),
              EngineError::modelNotFound("ggml-base.bin"));
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("tiny"); }),
              EngineError::modelNotFound("tiny"));
    auto settings = fake();
    settings.serverProgram = installModel("ggml-base.bin");  // not executable
    Engine notExecutable(settings);
    EXPECT_EQ(thrown<EngineError>([&] { notExecutable.ensureServer("base"); }),
              EngineError::serverFailed("Permission denied"));
    EXPECT_TRUE(serverPids().empty());

    if (Engine::findExecutable("whisper-server"))
        GTEST_SKIP() << "a real whisper-server is installed here";
    Engine bundled;
    EXPECT_EQ(thrown<EngineError>([&] { bundled.ensureServer("base"); }),
              EngineError::whisperNotFound());
}

TEST_F(ServerProcess, AServerThatExitsWhileLoadingIsReportedAtOnce) {
    test::writeFile(installModel("ggml-base.bin"), "");  // unusable: the server exits with 3
    Engine engine(fake());
    const auto exited = EngineError::serverFailed("processo encerrou ao carregar o modelo");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }), exited);
    // Far below the 120 s load limit: the exit itself ends the wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    installModel("ggml-base.bin", "exit_after_load 7\n");
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }), exited);

    // The next call starts over with a usable model.
    installModel("ggml-base.bin");
    engine.ensureServer("base");
    EXPECT_EQ(serverPids().size(), 3u);
}

TEST_F(ServerProcess, AServerThatNeverAnswersOrAnswers500IsTerminatedAtTheDeadline) {
    const auto timedOut = EngineError::serverFailed("tempo esgotado ao carregar o modelo");
    installModel("ggml-base.bin", "never_listen\n");
    Engine engine(fake(1500ms));
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }), timedOut);
    ASSERT_EQ(serverPids().size(), 1u);
    EXPECT_TRUE(gone(serverPids()[0]));

    installModel("ggml-base.bin", "root_status 503\n");
    EXPECT_EQ(thrown<EngineError>([&] { engine.ensureServer("base"); }), timedOut);
    ASSERT_EQ(serverPids().size(), 2u);
    EXPECT_TRUE(gone(serverPids()[1]));

    // The fields were cleared: the same model starts a new server; any status below 500 is an
    // answer.
    installModel("ggml-base.bin", "load_seconds 0.4\nroot_status 404\n");
    engine.ensureServer("base");
    EXPECT_EQ(serverPids().size(), 3u);
    EXPECT_TRUE(Engine::ping(engine.serverPort()));
}

TEST_F(ServerProcess, ADeadServerIsReapedAndReplacedAtTheNextCall) {
    installModel("ggml-base.bin", "crash_after_seconds 1\n");
    Engine engine(fake());
    engine.ensureServer("base");
    EXPECT_TRUE(gone(serverPids().at(0))) << "the crashed server lingers as a zombie";
    installModel("ggml-base.bin");
    engine.ensureServer("base");
    ASSERT_EQ(serverPids().size(), 2u);
    EXPECT_TRUE(Engine::ping(engine.serverPort()));
}

TEST_F(ServerProcess, TwoEnginesNeverShareAPort) {
    installModel("ggml-base.bin");
    installModel("ggml-large-v3-turbo.bin");
    Engine first(fake()), second(fake());
    first.ensureServer("base");
    second.ensureServer("large-v3-turbo");
    EXPECT_EQ(first.serverPort(), 8642);
    EXPECT_NE(second.serverPort(), 8642);
    // Each engine's port is answered only by its own server, every time.
    for (int i = 0; i < 10; ++i) {
        EXPECT_NE(rootPage(first.serverPort()).find("ggml-base.bin"), std::string::npos);
        EXPECT_NE(rootPage(second.serverPort()).find("ggml-large-v3-turbo.bin"), std::string::npos);
    }
}

TEST_F(ServerProcess, AStopDuringLoadingWaitsForTheLoadAndDestructionStops) {
    installModel("ggml-base.bin", "load_seconds 0.8\n");
    {
        Engine engine(fake());
        std::thread starter([&] { EXPECT_NO_THROW(engine.ensureServer("base")); });
        ASSERT_TRUE(test::waitUntil([&] { return !serverPids().empty(); }));
        engine.stopServer();
        starter.join();
        EXPECT_FALSE(events("listening").empty());
        EXPECT_TRUE(gone(serverPids()[0]));

        engine.ensureServer("base");
    }
    EXPECT_TRUE(gone(serverPids().at(1))) << "destroying the engine left its server running";
}

}  // namespace
}  // namespace quenda
