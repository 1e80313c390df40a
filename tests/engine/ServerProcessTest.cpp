#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
using test::ScopedEnv;
using test::TempDir;

// Each test has its own data directory, models directory and fake-server record.
class ServerProcess : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv home{"HOME", dir.path().string()};
    ScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    ScopedEnv models{"QUENDA_MODELS_DIR", (dir / "models").string()};
    ScopedEnv recordVariable{"FAKE_WHISPER_RECORD", (dir / "record.jsonl").string()};

    // Installs a model file the fake server understands, with optional directives.
    std::filesystem::path installModel(const std::string& file,
                                       const std::string& directives = "") {
        auto path = dir / "models" / file;
        test::writeFile(path, "fake-ggml-model\n" + directives);
        return path;
    }

    static ServerSettings fakeSettings() {
        ServerSettings settings;
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        return settings;
    }

    std::vector<nlohmann::json> events(const std::string& kind) {
        std::vector<nlohmann::json> found;
        for (auto& entry : test::readRecord(dir / "record.jsonl")) {
            if (entry.value("event", "") == kind)
                found.push_back(entry);
        }
        return found;
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

    static EngineError ensureFails(TranscriptionEngine& engine, const std::string& model) {
        try {
            engine.ensureServer(model);
        } catch (const EngineError& error) {
            return error;
        }
        ADD_FAILURE() << "ensureServer(" << model << ") succeeded";
        return EngineError::whisperNotFound();
    }

    static bool gone(int pid) {
        return test::waitUntil([&] { return !test::processAlive(pid); }, 10s);
    }
};

TEST_F(ServerProcess, StartsWithTheFixedArgumentsReusesAndStops) {
    auto model = installModel("ggml-base.bin");
    TranscriptionEngine engine(fakeSettings());
    EXPECT_FALSE(TranscriptionEngine::ping());
    engine.ensureServer("base");
    EXPECT_TRUE(TranscriptionEngine::ping());
    EXPECT_EQ(engine.serverPort(), 8642);

    auto starts = events("start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["args"], nlohmann::json({"-m", model.string(), "-l", "pt", "--port", "8642",
                                                 "--host", "127.0.0.1"}));

    engine.ensureServer("base");  // same model: reused, no new process
    EXPECT_EQ(events("start").size(), 1u);

    engine.stopServer();
    EXPECT_TRUE(gone(serverPids()[0]));
    EXPECT_EQ(events("stop").size(), 1u);  // asked to stop with SIGTERM, not killed
    EXPECT_EQ(events("stop")[0]["signal"], SIGTERM);
    engine.stopServer();  // nothing running: no effect
    EXPECT_FALSE(TranscriptionEngine::ping());
}

TEST_F(ServerProcess, ChangingModelReplacesTheServer) {
    installModel("ggml-base.bin");
    installModel("ggml-large-v3-turbo.bin");
    TranscriptionEngine engine(fakeSettings());
    engine.ensureServer("base");
    engine.ensureServer("large-v3-turbo");
    auto pids = serverPids();
    ASSERT_EQ(pids.size(), 2u);
    EXPECT_TRUE(gone(pids[0]));
    EXPECT_TRUE(test::processAlive(pids[1]));
    EXPECT_NE(rootPage(engine.serverPort()).find("ggml-large-v3-turbo.bin"), std::string::npos);
}

TEST_F(ServerProcess, MissingProgramOrModelStartsNothing) {
    {
        TranscriptionEngine engine(fakeSettings());
        EXPECT_EQ(ensureFails(engine, "base"), EngineError::modelNotFound("ggml-base.bin"));
        EXPECT_EQ(ensureFails(engine, "tiny"), EngineError::modelNotFound("tiny"));
    }
    installModel("ggml-base.bin");
    {
        auto settings = fakeSettings();
        settings.serverProgram = dir / "models" / "ggml-base.bin";  // not executable
        TranscriptionEngine engine(settings);
        EXPECT_EQ(ensureFails(engine, "base").errorDescription(),
                  "Falha ao iniciar o motor Whisper: Permission denied");
    }
    EXPECT_TRUE(serverPids().empty());

    if (TranscriptionEngine::findExecutable("whisper-server")) {
        GTEST_SKIP() << "a real whisper-server is installed here";
    }
    TranscriptionEngine engine;
    EXPECT_EQ(ensureFails(engine, "base"), EngineError::whisperNotFound());
}

TEST_F(ServerProcess, AServerThatExitsWhileLoadingIsReportedAtOnce) {
    auto model = installModel("ggml-base.bin");
    test::writeFile(model, "");  // unusable: the server exits with status 3
    TranscriptionEngine engine(fakeSettings());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ensureFails(engine, "base").errorDescription(),
              "Falha ao iniciar o motor Whisper: processo encerrou ao carregar o modelo");
    // Far below the 120 s load limit: the exit itself ends the wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    installModel("ggml-base.bin", "exit_after_load 7\n");
    EXPECT_EQ(ensureFails(engine, "base"),
              EngineError::serverFailed("processo encerrou ao carregar o modelo"));

    // The next call starts over with a usable model.
    installModel("ggml-base.bin");
    engine.ensureServer("base");
    EXPECT_EQ(serverPids().size(), 3u);
}

TEST_F(ServerProcess, AServerThatNeverAnswersIsTerminatedAtTheDeadline) {
    installModel("ggml-base.bin", "never_listen\n");
    auto settings = fakeSettings();
    settings.loadTimeLimit = 1500ms;
    TranscriptionEngine engine(settings);
    EXPECT_EQ(ensureFails(engine, "base"),
              EngineError::serverFailed("tempo esgotado ao carregar o modelo"));
    ASSERT_EQ(serverPids().size(), 1u);
    EXPECT_TRUE(gone(serverPids()[0]));

    // The fields were cleared: the same model starts a new server.
    installModel("ggml-base.bin", "load_seconds 0.4\n");
    engine.ensureServer("base");
    EXPECT_EQ(serverPids().size(), 2u);
}

TEST_F(ServerProcess, AnyStatusBelow500CountsAsAlive) {
    installModel("ggml-base.bin", "root_status 404\n");
    TranscriptionEngine engine(fakeSettings());
    engine.ensureServer("base");
    EXPECT_TRUE(TranscriptionEngine::ping(engine.serverPort()));

    installModel("ggml-large-v3-turbo.bin", "root_status 503\n");
    auto settings = fakeSettings();
    settings.loadTimeLimit = 1s;
    TranscriptionEngine other(settings);
    EXPECT_EQ(ensureFails(other, "large-v3-turbo"),
              EngineError::serverFailed("tempo esgotado ao carregar o modelo"));
}

TEST_F(ServerProcess, ADeadServerIsReplacedAtTheNextCall) {
    installModel("ggml-base.bin", "crash_after_seconds 1\n");
    TranscriptionEngine engine(fakeSettings());
    engine.ensureServer("base");
    auto first = serverPids().at(0);
    EXPECT_TRUE(gone(first)) << "the crashed server lingers as a zombie";
    installModel("ggml-base.bin");
    engine.ensureServer("base");
    ASSERT_EQ(serverPids().size(), 2u);
    EXPECT_TRUE(TranscriptionEngine::ping(engine.serverPort()));
}

TEST_F(ServerProcess, TwoEnginesNeverShareAPort) {
    installModel("ggml-base.bin");
    installModel("ggml-large-v3-turbo.bin");
    TranscriptionEngine first(fakeSettings());
    TranscriptionEngine second(fakeSettings());
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

TEST_F(ServerProcess, AStopDuringLoadingWaitsForTheLoadThenStops) {
    installModel("ggml-base.bin", "load_seconds 0.8\n");
    TranscriptionEngine engine(fakeSettings());
    std::thread starter([&] { EXPECT_NO_THROW(engine.ensureServer("base")); });
    ASSERT_TRUE(test::waitUntil([&] { return !serverPids().empty(); }));
    engine.stopServer();
    starter.join();
    EXPECT_FALSE(events("listening").empty());
    EXPECT_TRUE(gone(serverPids()[0]));
}

TEST_F(ServerProcess, DestroyingTheEngineStopsItsServer) {
    installModel("ggml-base.bin");
    {
        TranscriptionEngine engine(fakeSettings());
        engine.ensureServer("base");
    }
    EXPECT_TRUE(gone(serverPids().at(0)));
}

// A process that starts a server through an engine and then waits to be ended.
class Holder {
  public:
    explicit Holder(const std::filesystem::path& record) {
        ProcessOptions options;
        options.standardOutput = ProcessOptions::Output::capture;
        process =
            Process::launch(QUENDA_ENGINE_HOLDER, {QUENDA_FAKE_WHISPER_SERVER, "base"}, options);
        ready = test::waitUntil(
            [&] { return process->standardOutputText() == "ready\n" || !process->isRunning(); });
        ready = ready && process->isRunning();
        for (auto& entry : test::readRecord(record)) {
            if (entry.value("event", "") == "start")
                serverPid = entry["pid"].get<int>();
        }
    }
    std::unique_ptr<Process> process;
    bool ready = false;
    int serverPid = 0;
};

TEST_F(ServerProcess, TheServerDoesNotOutliveItsApplication) {
    installModel("ggml-base.bin");
    for (int signalNumber : {SIGKILL, SIGSEGV, SIGINT, SIGTERM}) {
        std::filesystem::remove(dir / "record.jsonl");
        Holder holder(dir / "record.jsonl");
        ASSERT_TRUE(holder.ready) << "signal " << signalNumber;
        ASSERT_GT(holder.serverPid, 0);
        ::kill(holder.process->pid(), signalNumber);
        auto status = holder.process->waitForExit(10s);
        ASSERT_TRUE(status);
        if (signalNumber == SIGINT || signalNumber == SIGTERM) {
            EXPECT_EQ(*status, 1) << "an interrupted command line ends with status 1";
        }
        EXPECT_TRUE(gone(holder.serverPid))
            << "server outlived its application, signal " << signalNumber;
    }
}

}  // namespace
}  // namespace quenda
