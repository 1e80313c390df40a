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

constexpr const char* kOldModel = "the model that was already here";

// What a completion was told, and on which thread.
struct Outcome {
    int calls = 0;
    bool result = false;
    std::thread::id thread;

    std::function<void(bool)> callback() {
        return [this](bool ok) { ++calls, result = ok, thread = std::this_thread::get_id(); };
    }
};

class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        ModelDownloaderSettings settings;
        settings.addressOf = [this](const ModelInfo& model) { return address + model.file; };
        downloader = std::make_unique<ModelDownloader>(mainQueue, settings);
        downloader->onChange = [this] { progressSeen.push_back(downloader->progress()); };
        test::writeFile(destination, kOldModel);
    }

    // Starts a download of "base" from `route` of the test server ("/full/", "/slow/", ...).
    void start(Outcome& outcome, const std::string& route) {
        address = server.url(route);
        downloader->download("base", outcome.callback());
    }

    bool runUntil(const std::function<bool()>& condition) {
        return mainQueue.runUntil(condition, std::chrono::seconds(10));
    }

    // The old model is untouched and no temporary file is left beside it.
    void expectOldModelAlone() {
        EXPECT_EQ(test::readFile(destination), kOldModel);
        for (const auto& entry : std::filesystem::directory_iterator(models.path()))
            EXPECT_EQ(entry.path(), destination);
    }

    test::TempDir models;
    test::ScopedEnv modelsDir{"QUENDA_MODELS_DIR", models.path().string()};
    std::filesystem::path destination = models / "ggml-base.bin";
    test::TestFileServer server{test::patternBody(1 << 20)};
    ManualMainQueue mainQueue;
    std::string address;
    std::vector<double> progressSeen;
    std::unique_ptr<ModelDownloader> downloader;  // last: goes first
};

TEST_F(ModelDownloaderTest, DownloadReportsProgressAndReplacesTheOldFile) {
    test::writeFile(models / "ggml-base.bin.tmp-Ab12Cd", "left by a crash");
    Outcome outcome;
    start(outcome, "/full/");
    EXPECT_TRUE(downloader->isDownloading());
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.thread, std::this_thread::get_id());
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), std::nullopt);
    EXPECT_TRUE(test::readFile(destination) == server.body());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(models.path()), {}), 1);

    bool sawPart = false;
    for (size_t i = 1; i < progressSeen.size(); ++i) {
        EXPECT_GE(progressSeen[i], progressSeen[i - 1]);
        sawPart = sawPart || (progressSeen[i] > 0.0 && progressSeen[i] < 1.0);
    }
    EXPECT_TRUE(sawPart);
    EXPECT_EQ(progressSeen.back(), 1.0);
}

TEST_F(ModelDownloaderTest, WithoutALengthProgressStaysAtZeroUntilSuccess) {
    Outcome outcome;
    start(outcome, "/nolength/");
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(progressSeen.back(), 1.0);
    progressSeen.pop_back();
    EXPECT_EQ(progressSeen, std::vector<double>(progressSeen.size(), 0.0));
    EXPECT_TRUE(test::readFile(destination) == server.body());
}

TEST_F(ModelDownloaderTest, FailuresKeepTheOldModelAndSayWhatHappened) {
    const auto closedPort = findFreeLoopbackPort();
    ASSERT_TRUE(closedPort);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/status/404/", "O arquivo do modelo não foi encontrado no servidor (erro HTTP 404)."},
        {"/status/500/", "O servidor de download respondeu com o erro HTTP 500."},
        {"/empty/", "O servidor de download não enviou nenhum dado."},
        {"/cut/", "A conexão caiu antes de o download terminar."},
        {"refused", "O servidor de download recusou a conexão."},
    };
    for (const auto& [route, message] : cases) {
        Outcome outcome;
        if (route == "refused") {
            address = "http://127.0.0.1:" + std::to_string(*closedPort) + "/";
            downloader->download("base", outcome.callback());
        } else {
            start(outcome, route);
        }
        ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; })) << route;
        EXPECT_FALSE(outcome.result) << route;
        EXPECT_EQ(downloader->error(), message);
        EXPECT_FALSE(downloader->isDownloading());
        expectOldModelAlone();
        if (route == "/cut/") {  // the last fraction reported stays
            EXPECT_GT(downloader->progress(), 0.0);
            EXPECT_LE(downloader->progress(), 0.5);
        }
    }
}

TEST_F(ModelDownloaderTest, ADestinationThatCannotBeWrittenFails) {
    test::writeFile(models / "not-a-folder", "");
    const auto unwritable = models / "not-a-folder" / "models";
    test::ScopedEnv elsewhere("QUENDA_MODELS_DIR", unwritable.string());
    Outcome outcome;
    start(outcome, "/full/");
    ASSERT_TRUE(runUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(downloader->error(), "Não foi possível gravar o modelo em " + unwritable.string() +
                                       ": o caminho não é uma pasta.");
}

TEST_F(ModelDownloaderTest, CancelCallsTheCompletionOnceThenReportsTheCancellation) {
    Outcome outcome;
    start(outcome, "/slow/");
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader->cancel();
    EXPECT_EQ(outcome.calls, 0);  // only on the main queue
    ASSERT_TRUE(runUntil([&] { return downloader->error().has_value(); }));
    downloader->cancel();
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.thread, std::this_thread::get_id());
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), "O download foi cancelado.");
    expectOldModelAlone();
}

TEST_F(ModelDownloaderTest, ALateReportOfACancelledTransferDoesNotTouchTheNextOne) {
    Outcome first, second;
    start(first, "/slow/");
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader->cancel();
    ASSERT_TRUE(runUntil([&] { return first.calls > 0; }));
    // Started before the cancelled transfer has reported its end.
    start(second, "/full/");
    EXPECT_EQ(downloader->progress(), 0.0);
    ASSERT_TRUE(runUntil([&] { return second.calls > 0; }));
    mainQueue.drain();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
    EXPECT_TRUE(second.result);
    EXPECT_EQ(downloader->error(), std::nullopt);
    EXPECT_EQ(downloader->progress(), 1.0);
}

TEST_F(ModelDownloaderTest, RefusedAtOnceWhileBusyOrForAnUnknownModel) {
    Outcome running, second;
    start(running, "/full/");
    downloader->download("large-v3-turbo", second.callback());
    EXPECT_EQ(second.calls, 1);
    EXPECT_FALSE(second.result);
    ASSERT_TRUE(runUntil([&] { return running.calls > 0; }));
    EXPECT_TRUE(running.result);

    const size_t changes = progressSeen.size();
    for (const char* id : {"tiny", "Base", ""}) {
        Outcome outcome;
        downloader->download(id, outcome.callback());
        EXPECT_EQ(outcome.calls, 1) << id;
    }
    for (const char* bad : {"not an address ", "ftp://127.0.0.1/", "file:///etc/"}) {
        address = bad;
        Outcome outcome;
        downloader->download("base", outcome.callback());
        EXPECT_EQ(outcome.calls, 1) << bad;
        EXPECT_FALSE(outcome.result);
    }
    mainQueue.drain();
    EXPECT_EQ(progressSeen.size(), changes);  // nothing published changed
    EXPECT_FALSE(std::filesystem::exists(models / "ggml-large-v3-turbo.bin"));
}

TEST_F(ModelDownloaderTest, DestroyedMidTransferItLeavesNothingBehind) {
    Outcome outcome;
    start(outcome, "/slow/");
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader.reset();
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 0);
    expectOldModelAlone();
}

}  // namespace
}  // namespace quenda
