#include <gtest/gtest.h>

#include <httplib.h>

#include <thread>

#include "download/ModelDownloader.h"
#include "platform/LoopbackPorts.h"
#include "platform/MainQueue.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
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

// A downloader of "base" into a models folder that already holds a model, and a local server
// that serves one body in every way a download can go, one path prefix each:
//   /full/       the body with its length, in pieces with short pauses
//   /cut/        the length of the body, then half of it, then the connection closes
//   /slow/       a long body trickling in, until the client goes away
//   /nolength/   the body in chunks, no length announced
//   /status/N/   status N with a small HTML error page
//   /empty/      status 200 and no body
class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        for (int i = 0; i < (1 << 20); ++i)
            body.push_back(static_cast<char>((i * 31 + i / 997) % 251));
        serveWithLength("/full/.*", body.size(), body.size(), 2ms, 1 << 16);
        serveWithLength("/cut/.*", body.size(), body.size() / 2, 2ms, 1 << 16);
        serveWithLength("/slow/.*", 1 << 30, 1 << 30, 20ms, 4096);
        server.Get("/nolength/.*", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(2ms);
                    if (offset >= body.size())
                        sink.done();
                    return offset >= body.size() ||
                           sink.write(body.data() + offset,
                                      std::min(body.size() - offset, size_t{65536}));
                });
        });
        server.Get(R"(/status/(\d+)/.*)",
                   [](const httplib::Request& request, httplib::Response& response) {
                       response.status = std::stoi(request.matches[1]);
                       response.set_content("<html><body>Error page</body></html>", "text/html");
                   });
        server.Get("/empty/.*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("", "application/octet-stream");
        });
        port = server.bind_to_any_port("127.0.0.1");
        loop = std::jthread([this] { server.listen_after_bind(); });
        // stop() is ignored until the accept loop runs.
        test::waitUntil([this] { return server.is_running(); });

        test::writeFile(destination, kOldModel);
        downloader = std::make_unique<ModelDownloader>(
            mainQueue, ModelDownloaderSettings{
                           [this](const ModelInfo& model) { return address + model.file; }});
        downloader->onChange = [this] { progressSeen.push_back(downloader->progress()); };
    }
    ~ModelDownloaderTest() override {
        downloader.reset();
        stopping = true;
        server.stop();
    }

    // `length` bytes announced, the body repeated, the connection closed at `cutAt`.
    void serveWithLength(const std::string& route, size_t length, size_t cutAt,
                         std::chrono::milliseconds pause, size_t piece) {
        server.Get(route, [=, this](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                length, "application/octet-stream",
                [=, this](size_t offset, size_t wanted, httplib::DataSink& sink) {
                    if (offset >= cutAt || stopping)
                        return false;
                    std::this_thread::sleep_for(pause);
                    const size_t at = offset % body.size();
                    return sink.write(body.data() + at,
                                      std::min({wanted, piece, cutAt - offset, body.size() - at}));
                });
        });
    }

    // Starts a download of "base" from `route` of the test server, or from another address.
    void start(Outcome& outcome, const std::string& route) {
        address =
            route.starts_with("http") ? route : "http://127.0.0.1:" + std::to_string(port) + route;
        downloader->download("base", outcome.callback());
    }
    bool runUntil(const std::function<bool()>& condition) {
        return mainQueue.runUntil(condition, 10s);
    }
    // The old model is untouched and no temporary file is left beside it.
    void expectOldModelAlone() {
        EXPECT_EQ(test::readFile(destination), kOldModel);
        for (const auto& entry : std::filesystem::directory_iterator(models.path()))
            EXPECT_EQ(entry.path(), destination);
    }

    std::string body;
    httplib::Server server;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::jthread loop;
    test::TempDir models;
    test::ScopedEnv modelsDir{"QUENDA_MODELS_DIR", models.path().string()};
    std::filesystem::path destination = models / "ggml-base.bin";
    ManualMainQueue mainQueue;
    std::string address;
    std::vector<double> progressSeen;
    std::unique_ptr<ModelDownloader> downloader;
};

TEST_F(ModelDownloaderTest, DownloadsWithOrWithoutALengthAndReplacesTheOldFile) {
    test::writeFile(models / "ggml-base.bin.tmp-Ab12Cd", "left by a crash");
    Outcome unsized;
    start(unsized, "/nolength/");
    ASSERT_TRUE(runUntil([&] { return unsized.calls > 0; }));
    EXPECT_TRUE(unsized.result);
    std::vector<double> zeroThenDone(progressSeen.size(), 0.0);
    zeroThenDone.back() = 1.0;
    EXPECT_EQ(progressSeen, zeroThenDone);
    EXPECT_TRUE(test::readFile(destination) == body);

    test::writeFile(destination, kOldModel);
    progressSeen.clear();
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
    EXPECT_TRUE(test::readFile(destination) == body);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(models.path()), {}), 1);
    bool sawPart = false;
    for (size_t i = 1; i < progressSeen.size(); ++i) {
        EXPECT_GE(progressSeen[i], progressSeen[i - 1]);
        sawPart = sawPart || (progressSeen[i] > 0.0 && progressSeen[i] < 1.0);
    }
    EXPECT_TRUE(sawPart);
    EXPECT_EQ(progressSeen.back(), 1.0);
}

TEST_F(ModelDownloaderTest, FailuresKeepTheOldModelAndSayWhatHappened) {
    const auto closedPort = findFreeLoopbackPort();
    ASSERT_TRUE(closedPort);
    for (const auto& [route, message] : std::vector<std::pair<std::string, std::string>>{
             {"/status/404/",
              "O arquivo do modelo não foi encontrado no servidor (erro HTTP 404)."},
             {"/status/500/", "O servidor de download respondeu com o erro HTTP 500."},
             {"/empty/", "O servidor de download não enviou nenhum dado."},
             {"/cut/", "A conexão caiu antes de o download terminar."},
             {"http://127.0.0.1:" + std::to_string(*closedPort) + "/",
              "O servidor de download recusou a conexão."}}) {
        Outcome outcome;
        start(outcome, route);
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

TEST_F(ModelDownloaderTest, CancelCallsTheCompletionOnceAndALateReportSparesTheNextDownload) {
    Outcome first, second;
    start(first, "/slow/");
    ASSERT_TRUE(runUntil([&] { return downloader->progress() > 0.0; }));
    downloader->cancel();
    EXPECT_EQ(first.calls, 0);  // only on the main queue
    ASSERT_TRUE(runUntil([&] { return downloader->error().has_value(); }));
    downloader->cancel();
    mainQueue.drain();
    EXPECT_EQ(first.calls, 1);
    EXPECT_FALSE(first.result);
    EXPECT_EQ(first.thread, std::this_thread::get_id());
    EXPECT_FALSE(downloader->isDownloading());
    EXPECT_EQ(downloader->error(), "O download foi cancelado.");
    expectOldModelAlone();

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

TEST_F(ModelDownloaderTest, RefusedAtOnceWhileBusyOrForAnUnknownModelOrAddress) {
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
