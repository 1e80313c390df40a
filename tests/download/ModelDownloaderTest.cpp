#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestFileServer.h"
#include "download/ModelDownloader.h"
#include "platform/LoopbackPorts.h"
#include "platform/MainQueue.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;

constexpr const char* kModelFile = "ggml-base.bin";
constexpr const char* kOldModel = "the model that was already here";

// What a completion was told, and where.
struct Outcome {
    int calls = 0;
    bool result = false;
    std::thread::id thread;

    std::function<void(bool)> callback() {
        return [this](bool ok) {
            ++calls;
            result = ok;
            thread = std::this_thread::get_id();
        };
    }
};

class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        ModelDownloaderSettings settings;
        settings.addressOf = [this](const ModelInfo& model) { return address + model.file; };
        downloader = std::make_unique<ModelDownloader>(mainQueue, settings);
        downloader->onChange = [this] {
            ++changes;
            progressSeen.push_back(downloader->progress());
        };
    }

    // Serve from `route` of the test server ("/full/", "/slow/", ...).
    void serveFrom(const std::string& route) { address = server.url(route); }

    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
        return mainQueue.runUntil(condition, limit);
    }

    std::filesystem::path destination() const { return models / kModelFile; }

    // Everything in the models directory other than the model file itself.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(models.path())) {
            if (entry.path().filename() != kModelFile)
                names.push_back(entry.path().filename().string());
        }
        return names;
    }

    test::TempDir models;
    test::ScopedEnv modelsDir{"QUENDA_MODELS_DIR", models.path().string()};
    test::TestFileServer server{test::patternBody(1 << 20)};
    ManualMainQueue mainQueue;
    std::string address;
    int changes = 0;
    std::vector<double> progressSeen;
    std::unique_ptr<ModelDownloader> downloader;  // last: goes first
};

TEST_F(ModelDownloaderTest, DownloadReportsProgressAndReplacesTheOldFile) {
    test::writeFile(destination(), kOldModel);
    test::writeFile(models / "ggml-base.bin.tmp-Ab12Cd", "left by a crash");
    serveFrom("/full/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    EXPECT_TRUE(downloader->isDownloading());
    EXPECT_EQ(downloader->progress(), 0.0);

    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.thread, std::this_thread::get_id());
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->progress(), 1.0);
    EXPECT_EQ(downloader->error(), std::nullopt);
    EXPECT_TRUE(test::readFile(destination()) == server.body());
    EXPECT_TRUE(leftovers().empty());
    EXPECT_EQ(std::filesystem::status(destination()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0644));

    bool sawPart = false;
    for (size_t i = 1; i < progressSeen.size(); ++i) {
        EXPECT_GE(progressSeen[i], progressSeen[i - 1]);
        sawPart = sawPart || (progressSeen[i] > 0.0 && progressSeen[i] < 1.0);
    }
    EXPECT_TRUE(sawPart);
    EXPECT_EQ(progressSeen.back(), 1.0);
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 1);
}

TEST_F(ModelDownloaderTest, WithoutALengthProgressStaysAtZeroUntilSuccess) {
    serveFrom("/nolength/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_TRUE(outcome.result);
    ASSERT_GE(progressSeen.size(), 2u);
    for (size_t i = 0; i + 1 < progressSeen.size(); ++i)
        EXPECT_EQ(progressSeen[i], 0.0);
    EXPECT_EQ(progressSeen.back(), 1.0);
    EXPECT_TRUE(test::readFile(destination()) == server.body());
}

TEST_F(ModelDownloaderTest, ErrorPagesAndEmptyBodiesAreNeverInstalled) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/status/404/", "O arquivo do modelo não foi encontrado no servidor (erro HTTP 404)."},
        {"/status/500/", "O servidor de download respondeu com o erro HTTP 500."},
        {"/empty/", "O servidor de download não enviou nenhum dado."},
    };
    test::writeFile(destination(), kOldModel);
    for (const auto& [route, message] : cases) {
        serveFrom(route);
        Outcome outcome;
        downloader->download("base", outcome.callback());
        ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; })) << route;
        EXPECT_FALSE(outcome.result) << route;
        EXPECT_EQ(downloader->error(), message);
        EXPECT_FALSE(downloader->isDownloading());
        EXPECT_EQ(test::readFile(destination()), kOldModel);
        EXPECT_TRUE(leftovers().empty()) << route;
    }
}

TEST_F(ModelDownloaderTest, ConnectionCutHalfWayFailsAndKeepsTheLastFraction) {
    test::writeFile(destination(), kOldModel);
    serveFrom("/cut/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(downloader->error(), "A conexão caiu antes de o download terminar.");
    EXPECT_GT(downloader->progress(), 0.0);
    EXPECT_LE(downloader->progress(), 0.5);
    EXPECT_EQ(test::readFile(destination()), kOldModel);
    EXPECT_TRUE(leftovers().empty());

    // The next download starts again from nothing.
    serveFrom("/full/");
    Outcome again;
    downloader->download("base", again.callback());
    EXPECT_EQ(downloader->progress(), 0.0);
    EXPECT_EQ(downloader->error(), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return again.calls > 0; }));
    EXPECT_TRUE(again.result);
}

TEST_F(ModelDownloaderTest, CancelCallsTheCompletionOnceThenReportsTheCancellation) {
    test::writeFile(destination(), kOldModel);
    serveFrom("/slow/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));

    downloader->cancel();
    EXPECT_EQ(outcome.calls, 0);  // only on the main queue
    ASSERT_TRUE(runUntil([&] { return downloader->error().has_value(); }));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.thread, std::this_thread::get_id());
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), "O download foi cancelado.");
    EXPECT_EQ(test::readFile(destination()), kOldModel);
    EXPECT_TRUE(leftovers().empty());
    downloader->cancel();
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 1);
}

TEST_F(ModelDownloaderTest, ALateReportOfACancelledTransferDoesNotTouchTheNextOne) {
    serveFrom("/slow/");
    Outcome first;
    downloader->download("base", first.callback());
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader->cancel();
    ASSERT_TRUE(runUntil([&] { return first.calls > 0; }));

    // Started before the cancelled transfer has reported its end.
    serveFrom("/full/");
    Outcome second;
    downloader->download("base", second.callback());
    ASSERT_TRUE(runUntil([&] { return second.calls > 0; }));
    mainQueue.drain();
    EXPECT_EQ(first.calls, 1);
    EXPECT_FALSE(first.result);
    EXPECT_EQ(second.calls, 1);
    EXPECT_TRUE(second.result);
    EXPECT_EQ(downloader->error(), std::nullopt);
    EXPECT_EQ(downloader->progress(), 1.0);
    EXPECT_TRUE(test::readFile(destination()) == server.body());
}

TEST_F(ModelDownloaderTest, ASecondDownloadWhileOneRunsIsRefusedAtOnce) {
    serveFrom("/full/");
    Outcome first, second;
    downloader->download("base", first.callback());
    downloader->download("large-v3-turbo", second.callback());
    EXPECT_EQ(second.calls, 1);
    EXPECT_FALSE(second.result);
    EXPECT_TRUE(downloader->isDownloading());

    ASSERT_TRUE(runUntil([&] { return first.calls > 0; }));
    EXPECT_TRUE(first.result);
    EXPECT_EQ(second.calls, 1);
    EXPECT_FALSE(std::filesystem::exists(models / "ggml-large-v3-turbo.bin"));
}

TEST_F(ModelDownloaderTest, UnknownModelsAndBadAddressesAreRefusedWithoutAnyChange) {
    serveFrom("/status/404/");
    Outcome failed;
    downloader->download("base", failed.callback());
    ASSERT_TRUE(runUntil([&] { return failed.calls > 0; }));
    const auto earlierError = downloader->error();
    const int changesBefore = changes;

    for (const char* id : {"tiny", "Base", ""}) {
        Outcome outcome;
        downloader->download(id, outcome.callback());
        EXPECT_EQ(outcome.calls, 1) << id;
        EXPECT_FALSE(outcome.result);
    }
    for (const char* bad : {"not an address ", "ftp://127.0.0.1/", "file:///etc/"}) {
        address = bad;
        Outcome outcome;
        downloader->download("base", outcome.callback());
        EXPECT_EQ(outcome.calls, 1) << bad;
        EXPECT_FALSE(outcome.result);
    }
    mainQueue.drain();
    EXPECT_EQ(changes, changesBefore);
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), earlierError);
}

TEST_F(ModelDownloaderTest, ADestinationThatCannotBeWrittenFails) {
    test::writeFile(models / "not-a-folder", "");
    const auto unwritable = models / "not-a-folder" / "models";
    test::ScopedEnv elsewhere("QUENDA_MODELS_DIR", unwritable.string());
    serveFrom("/full/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(downloader->error(), "Não foi possível gravar o modelo em " + unwritable.string() +
                                       ": o caminho não é uma pasta.");
    EXPECT_FALSE(downloader->isDownloading());
}

TEST_F(ModelDownloaderTest, ARefusedConnectionIsToldInPlainWords) {
    const auto port = findFreeLoopbackPort();
    ASSERT_TRUE(port);
    address = "http://127.0.0.1:" + std::to_string(*port) + "/";
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(downloader->error(), "O servidor de download recusou a conexão.");
}

TEST_F(ModelDownloaderTest, CancelWhileIdleOnlyClearsIsDownloading) {
    downloader->cancel();
    EXPECT_EQ(changes, 0);
    mainQueue.drain();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), std::nullopt);
}

TEST_F(ModelDownloaderTest, DestroyedMidTransferItLeavesNothingBehind) {
    test::writeFile(destination(), kOldModel);
    serveFrom("/slow/");
    Outcome outcome;
    downloader->download("base", outcome.callback());
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader.reset();
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_EQ(test::readFile(destination()), kOldModel);
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace quenda
