#include <gtest/gtest.h>

#include <thread>

#include "download/ModelDownloader.h"
#include "platform/LoopbackPorts.h"
#include "platform/MainQueue.h"
#include "support/LocalHttpServer.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;
constexpr const char* kOldModel = "the model that was already here";

// What a completion was told: how often, what, and whether on the thread that asked.
struct Outcome {
    int calls = 0;
    bool result = false, onMainThread = false;
    std::function<void(bool)> callback() {
        return [this, main = std::this_thread::get_id()](bool ok) {
            ++calls, result = ok, onMainThread = std::this_thread::get_id() == main;
        };
    }
    std::tuple<int, bool, bool> seen() const { return {calls, result, onMainThread}; }
};

// A downloader of "base" into a models folder that already holds a model, and a local server
// that serves one body in every way a download can go, one path prefix each:
//   /full/       the body with its length, in pieces with short pauses
//   /cut/        the length of the body, then half of it, then the connection closes
//   /slow/       a long body trickling in, until the client goes away
//   /silent/     a length, then nothing
//   /nolength/   the body in chunks, no length announced
//   /status/N/   status N with the whole body and its length (an error page as big as a model)
//   /empty/      status 200 with nothing
//   /redirect/N/ redirected N times, then to /full/; /loop/ to itself; /tofile/ to a file: URL
class ModelDownloaderTest : public ::testing::Test {
  protected:
    ModelDownloaderTest() {
        for (int i = 0; i < (1 << 20); ++i)
            body.push_back(static_cast<char>((i * 31 + i / 997) % 251));
        serve("/full/.*", body.size(), body.size(), 2ms, 1 << 16);
        serve("/cut/.*", body.size(), body.size() / 2, 2ms, 1 << 16);
        serve("/slow/.*", 1 << 30, 1 << 30, 20ms, 4096);
        serve("/silent/.*", body.size(), body.size(), 10ms, 0);
        serve("/nolength/.*", 0, body.size(), 2ms, 1 << 16);
        server.Get(R"(/status/(\d+)/.*)", [this](const auto& request, httplib::Response& response) {
            response.status = std::stoi(request.matches[1]);
            response.set_content(body, "application/octet-stream");
        });
        server.Get("/empty/.*", [](const auto&, httplib::Response& response) {
            response.set_content("", "application/octet-stream");
        });
        server.Get(R"(/redirect/(\d)/(.*))", [](const auto& request, auto& response) {
            const int hops = std::stoi(request.matches[1]);
            const std::string rest = request.matches[2];
            response.set_redirect(hops ? "/redirect/" + std::to_string(hops - 1) + "/" + rest
                                       : "/full/" + rest);
        });
        server.Get("/(loop|tofile)/.*", [](const auto& request, auto& response) {
            response.set_redirect(request.matches[1] == "loop" ? request.path
                                                               : "file:///etc/hostname");
        });
        server.start();
        test::writeFile(destination, kOldModel);
        downloader = std::make_unique<ModelDownloader>(
            mainQueue,
            ModelDownloaderSettings{[this](const ModelInfo& model) { return address + model.file; },
                                    std::chrono::seconds(1)});
        downloader->onChange = [this] { progressSeen.push_back(downloader->progress()); };
    }
    ~ModelDownloaderTest() override {
        downloader.reset();
        stopping = true;
    }

    // The body repeated up to `end`, with `length` announced (none for 0).
    void serve(const std::string& route, size_t length, size_t end, std::chrono::milliseconds pause,
               size_t piece) {
        server.Get(route, [=, this](const auto&, httplib::Response& response) {
            auto provide = [=, this](size_t offset, httplib::DataSink& sink) {
                if (offset >= end && !length)
                    sink.done();
                if (offset >= end || stopping)
                    return offset >= end && !length;  // with a length: the connection is cut here
                std::this_thread::sleep_for(pause);
                const size_t at = offset % body.size();
                return sink.write(body.data() + at,
                                  std::min({piece, end - offset, body.size() - at}));
            };
            if (length == 0)
                return response.set_chunked_content_provider("application/octet-stream", provide);
            response.set_content_provider(length, "application/octet-stream",
                                          [=](size_t offset, size_t, httplib::DataSink& sink) {
                                              return provide(offset, sink);
                                          });
        });
    }

    // Starts a download of "base" from `route` of the test server, or from another address.
    void start(Outcome& outcome, const std::string& route) {
        address = route.starts_with("http") ? route : server.url(route);
        downloader->download("base", outcome.callback());
    }
    // Waits for the completion, then runs what else the main queue holds.
    bool finish(const Outcome& outcome) {
        const bool called = mainQueue.runUntil([&] { return outcome.calls > 0; }, 10s);
        mainQueue.drain();
        return called;
    }
    // The model holds `content`, no temporary file is left beside it, and the downloader is idle
    // with this error.
    void expectModelAlone(const std::optional<std::string>& error, const std::string& content) {
        EXPECT_FALSE(downloader->isDownloading());
        EXPECT_EQ(downloader->error(), error);
        EXPECT_TRUE(test::readFile(destination) == content) << "not the model expected";
        for (const auto& entry : std::filesystem::directory_iterator(models.path()))
            EXPECT_EQ(entry.path(), destination);
    }

    std::string body;
    std::atomic<bool> stopping{false};
    test::LocalHttpServer server;
    test::TempDir models;
    test::ScopedEnv modelsDir{"QUENDA_MODELS_DIR", models.path().string()};
    std::filesystem::path destination = models / "ggml-base.bin";
    ManualMainQueue mainQueue;
    std::string address;
    std::vector<double> progressSeen;
    std::unique_ptr<ModelDownloader> downloader;
};

TEST_F(ModelDownloaderTest, DownloadsWithOrWithoutALengthOrRedirectedAndReplacesTheOldFile) {
    // A download's leftover from a crash goes. (Which temporary files a writer may remove is
    // checked with the files' own tests.)
    const std::string leftover = "ggml-base.bin.download-0A1B2C3D-0000-4000-8000-00000000CAFE";
    for (const auto& [route, sized] :
         {std::pair{"/nolength/", false}, {"/full/", true}, {"/redirect/3/", true}}) {
        SCOPED_TRACE(route);
        test::writeFile(models / leftover, "left by a crash");
        progressSeen.clear();
        Outcome outcome;
        start(outcome, route);
        EXPECT_TRUE(downloader->isDownloading());
        ASSERT_TRUE(finish(outcome));
        EXPECT_EQ(outcome.seen(), std::tuple(1, true, true));
        expectModelAlone(std::nullopt, body);
        // Rising to 1.0 through parts of the whole; without a length, 0.0 until success.
        EXPECT_TRUE(std::ranges::is_sorted(progressSeen));
        EXPECT_EQ(progressSeen.back(), 1.0);
        EXPECT_EQ(std::ranges::any_of(progressSeen, [](double p) { return p > 0 && p < 1; }),
                  sized);
    }
}

TEST_F(ModelDownloaderTest, FailuresKeepTheOldModelAndSayWhatHappened) {
    const auto closedPort = findFreeLoopbackPort();
    ASSERT_TRUE(closedPort);
    for (const auto& [route, message] : std::vector<std::pair<std::string, std::string>>{
             {"/status/404/",
              "O arquivo do modelo não foi encontrado no servidor (erro HTTP 404)."},
             {"/status/403/", "O servidor recusou o acesso ao arquivo do modelo (erro HTTP 403)."},
             {"/status/500/", "O servidor de download respondeu com o erro HTTP 500."},
             {"/empty/", "O servidor de download não enviou nenhum dado."},
             {"/cut/", "A conexão caiu antes de o download terminar."},
             {"/silent/", "O servidor de download parou de responder."},
             {"/loop/", "O servidor de download redirecionou a transferência vezes demais."},
             {"/tofile/", "O endereço de download do modelo é inválido."},
             {"http://127.0.0.1:" + std::to_string(*closedPort) + "/",
              "O servidor de download recusou a conexão."}}) {
        SCOPED_TRACE(route);
        Outcome outcome;
        start(outcome, route);
        ASSERT_TRUE(finish(outcome));
        EXPECT_EQ(outcome.seen(), std::tuple(1, false, true));
        expectModelAlone(message, kOldModel);
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
    ASSERT_TRUE(finish(outcome));
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(downloader->error(), "Não foi possível gravar o modelo em " + unwritable.string() +
                                       ": o caminho não é uma pasta.");
}

TEST_F(ModelDownloaderTest, CancelCallsTheCompletionOnceAndALateReportSparesTheNextDownload) {
    Outcome first, second;
    start(first, "/slow/");
    ASSERT_TRUE(mainQueue.runUntil([&] { return downloader->progress() > 0.0; }, 10s));
    downloader->cancel();
    EXPECT_EQ(first.calls, 0);  // only on the main queue
    ASSERT_TRUE(mainQueue.runUntil([&] { return downloader->error().has_value(); }, 10s));
    downloader->cancel();
    mainQueue.drain();
    EXPECT_EQ(first.seen(), std::tuple(1, false, true));
    expectModelAlone("O download foi cancelado.", kOldModel);

    // Started before the cancelled transfer has reported its end.
    start(second, "/full/");
    EXPECT_EQ(downloader->progress(), 0.0);
    ASSERT_TRUE(finish(second));
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.seen(), std::tuple(1, true, true));
    EXPECT_EQ(downloader->error(), std::nullopt);
    EXPECT_EQ(downloader->progress(), 1.0);
}

TEST_F(ModelDownloaderTest, RefusedAtOnceWhileBusyOrForAnUnknownModelOrAddress) {
    Outcome running, second;
    start(running, "/full/");
    downloader->download("large-v3-turbo", second.callback());
    EXPECT_EQ(second.seen(), std::tuple(1, false, true));
    ASSERT_TRUE(finish(running));
    EXPECT_TRUE(running.result);

    const size_t changes = progressSeen.size();
    // The unknown identifiers (matched exactly) have an address that would serve them.
    const std::string served = server.url("/full/");
    const std::string ids[] = {"tiny", "Base", "", "base", "base", "base"};
    const std::string addresses[] = {
        served, served, served, "not an address ", "ftp://127.0.0.1/", "file:///etc/"};
    for (int i = 0; i < 6; ++i) {
        address = addresses[i];
        Outcome outcome;
        downloader->download(ids[i], outcome.callback());
        EXPECT_EQ(outcome.seen(), std::tuple(1, false, true)) << ids[i] << addresses[i];
    }
    mainQueue.drain();
    EXPECT_EQ(progressSeen.size(), changes);  // nothing published changed
}

TEST_F(ModelDownloaderTest, DestroyedMidTransferItLeavesNothingBehind) {
    Outcome outcome;
    start(outcome, "/slow/");
    ASSERT_TRUE(mainQueue.runUntil([&] { return downloader->progress() > 0.0; }, 10s));
    downloader.reset();
    mainQueue.drain();
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_TRUE(test::readFile(destination) == kOldModel);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(models.path()), {}), 1);
}

}  // namespace
}  // namespace quenda
