// Transcription through the fake whisper-server: the request as it arrives on the wire, the
// handling of every kind of answer, and the engine's temporary files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "FakeServers.h"
#include "TestAudio.h"
#include "engine/MultipartBody.h"
#include "engine/TranscriptionEngine.h"
#include "support/TestSupport.h"

namespace quenda {
namespace {

using test::readFile;
using test::TempDir;

TEST(MultipartBodyTest, TheBytesAreExactlyThePromisedLayout) {
    using namespace std::string_literals;
    TempDir dir;
    test::writeFile(dir / "audio", "RIFF\0\r\n--"s);
    MultipartBody body("Boundary-B");
    body.addField("response_format", "json");
    body.addField("language", "pt");
    body.beginFile("file", "audio.wav", "audio/wav");
    body.appendFileContents(dir / "audio");
    body.finish();
    EXPECT_EQ(body.contentType(), "multipart/form-data; boundary=Boundary-B");
    EXPECT_EQ(body.bytes(),
              std::string("--Boundary-B\r\n"
                          "Content-Disposition: form-data; name=\"response_format\"\r\n"
                          "\r\njson\r\n"
                          "--Boundary-B\r\n"
                          "Content-Disposition: form-data; name=\"language\"\r\n"
                          "\r\npt\r\n"
                          "--Boundary-B\r\n"
                          "Content-Disposition: form-data; name=\"file\"; "
                          "filename=\"audio.wav\"\r\nContent-Type: audio/wav\r\n\r\n"
                          "RIFF\0\r\n--"
                          "\r\n--Boundary-B--\r\n"s));
}

class TranscriptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_);
        std::filesystem::create_directories(audioDir_);
    }

    // An engine whose server answers as the directives say.
    std::unique_ptr<TranscriptionEngine> engine(const std::vector<std::string>& directives) {
        test::writeFakeModel(models_ / "ggml-base.bin", directives);
        ServerSettings settings;
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        return std::make_unique<TranscriptionEngine>(settings);
    }

    std::vector<nlohmann::json> inferences() const {
        std::vector<nlohmann::json> found;
        for (const auto& entry : test::readRecord(record_)) {
            if (entry.value("path", "") == "/inference")
                found.push_back(entry);
        }
        return found;
    }

    static EngineError failure(const std::function<void()>& work) {
        try {
            work();
        } catch (const EngineError& error) {
            return error;
        }
        ADD_FAILURE() << "no EngineError";
        return EngineError::whisperNotFound();
    }

    TempDir dir_;
    std::filesystem::path models_ = dir_ / "models";
    std::filesystem::path tmp_ = dir_ / "tmp";
    std::filesystem::path record_ = dir_ / "whisper.jsonl";
    std::filesystem::path audioDir_ = dir_ / "received";
    test::ScopedEnv modelsEnv_{"QUENDA_MODELS_DIR", models_.string()};
    test::ScopedEnv tmpEnv_{"TMPDIR", tmp_.string()};
    test::ScopedEnv recordEnv_{"FAKE_WHISPER_RECORD", record_.string()};
    test::ScopedEnv audioEnv_{"FAKE_WHISPER_AUDIO_DIR", audioDir_.string()};
};

TEST_F(TranscriptionTest, AFileArrivesAsThePromisedMultipartRequestAndComesBackAsOneLine) {
    const auto input = dir_ / "fala ção.mp3";
    test::makeSpeech(dir_ / "fala.wav", "um dois três");
    test::convertAudio(dir_ / "fala.wav", input);
    const std::string before = readFile(input);

    auto speech = engine({"text um|dois  três|"});
    EXPECT_EQ(speech->transcribe(input, "base", "pt"), "um dois três");

    auto requests = inferences();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_TRUE(std::regex_match(
        request["content_type"].get<std::string>(),
        std::regex(
            "multipart/form-data; boundary=Boundary-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
    EXPECT_TRUE(request["layout_exact"].get<bool>());
    const auto& parts = request["parts"];
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[0],
              (nlohmann::json{{"name", "response_format"}, {"size", 4}, {"value", "json"}}));
    EXPECT_EQ(parts[1], (nlohmann::json{{"name", "temperature"}, {"size", 3}, {"value", "0.0"}}));
    EXPECT_EQ(parts[2], (nlohmann::json{{"name", "language"}, {"size", 2}, {"value", "pt"}}));
    EXPECT_EQ(parts[3]["name"], "file");
    EXPECT_EQ(parts[3]["filename"], "audio.wav");
    EXPECT_EQ(parts[3]["content_type"], "audio/wav");
    EXPECT_NEAR(request["wav"]["seconds"].get<double>(), test::wavSeconds(dir_ / "fala.wav"), 0.1);

    // The converted file is gone; the input is as it was.
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
    EXPECT_EQ(readFile(input), before);
}

TEST_F(TranscriptionTest, WavDataIsSentUnchangedWithAFreshBoundaryEachTime) {
    test::makeTone(dir_ / "tom.wav", 1.5, 16000, 1);
    const std::string wav = readFile(dir_ / "tom.wav");
    auto speech = engine({"text tom"});
    EXPECT_EQ(speech->transcribeWavData(wav, "base", "en"), "tom");
    EXPECT_EQ(speech->transcribeWavData(wav, "base", "en"), "tom");

    auto requests = inferences();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0]["content_type"], requests[1]["content_type"]);
    EXPECT_EQ(requests[0]["parts"][2]["value"], "en");
    EXPECT_EQ(readFile(audioDir_ / "inference-1.wav"), wav);
    EXPECT_EQ(readFile(audioDir_ / "inference-2.wav"), wav);
}

TEST_F(TranscriptionTest, EveryKindOfAnswerEndsInTextOrAClearFailure) {
    test::makeTone(dir_ / "tom.wav", 0.5, 16000, 1);
    const std::string wav = readFile(dir_ / "tom.wav");
    const std::string serverError = R"({"error":"failed to process audio"})";
    struct Case {
        std::vector<std::string> directives;
        std::optional<std::string> text;
        std::string failure;
    };
    const Case cases[] = {
        {{"text  "}, "", ""},
        {{"text |"}, "", ""},
        {{"inference_body {\"text\": \"\\r\\n a\\n\\n   b \\n\", \"t\": 1}"}, "a b", ""},
        {{"inference_status 500", "inference_body " + serverError}, {}, serverError},
        {{"inference_body"}, {}, "resposta vazia"},
        {{"inference_body Invalid request", "inference_content_type text/plain"},
         {},
         "Invalid request"},
        {{"inference_body [\"text\"]"}, {}, "[\"text\"]"},
        {{"inference_body {\"text\": 7}"}, {}, "{\"text\": 7}"},
        {{"inference_body \xff\xfe"}, {}, "resposta inválida"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directives.back());
        auto speech = engine(c.directives);
        if (c.text) {
            EXPECT_EQ(speech->transcribeWavData(wav, "base", "pt"), *c.text);
        } else {
            auto error = failure([&] { speech->transcribeWavData(wav, "base", "pt"); });
            EXPECT_EQ(error, EngineError::transcriptionFailed(c.failure));
        }
    }
}

TEST_F(TranscriptionTest, TheServerComesFirstAndAFailedStepLeavesNoFileBehind) {
    test::writeFile(dir_ / "notas.txt", "não é áudio");
    test::makeTone(dir_ / "tom.flac", 0.5);
    auto speech = engine({"inference_status 500", "inference_body {\"error\":\"x\"}"});

    EXPECT_EQ(failure([&] { speech->transcribe(dir_ / "notas.txt", "base", "pt"); }),
              EngineError::unsupportedFile("notas.txt"));
    auto started = test::readRecord(record_);
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started.front()["event"], "start");

    // Converted, then rejected by the server: the converted file goes all the same.
    EXPECT_EQ(failure([&] { speech->transcribe(dir_ / "tom.flac", "base", "pt"); }).kind(),
              EngineError::Kind::transcriptionFailed);
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(TranscriptionTest, TransportFailuresAreReportedWithTheirDescription) {
    test::makeTone(dir_ / "tom.wav", 0.5, 16000, 1);
    const std::string wav = readFile(dir_ / "tom.wav");
    test::writeFakeModel(models_ / "ggml-base.bin", {"inference_delay_seconds 3"});
    ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    settings.inferenceTimeout = std::chrono::milliseconds(500);
    TranscriptionEngine slow(settings);
    auto timedOut = failure([&] { slow.transcribeWavData(wav, "base", "pt"); });
    EXPECT_EQ(timedOut.kind(), EngineError::Kind::transcriptionFailed);
    EXPECT_THAT(timedOut.payload(), ::testing::HasSubstr("timed out"));

    // A server stopped while the request waits for it.
    auto speech = engine({"inference_delay_seconds 3"});
    speech->ensureServer("base");
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        speech->stopServer();
    });
    auto stopped = failure([&] { speech->transcribeWavData(wav, "base", "pt"); });
    stopper.join();
    EXPECT_EQ(stopped.kind(), EngineError::Kind::transcriptionFailed);
    EXPECT_FALSE(stopped.payload().empty());
}

TEST_F(TranscriptionTest, ConcurrentRequestsAreEachAnswered) {
    test::makeTone(dir_ / "tom.wav", 0.5, 16000, 1);
    const std::string wav = readFile(dir_ / "tom.wav");
    auto speech = engine({"text ok", "inference_delay_seconds 0.2"});
    speech->ensureServer("base");
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] { result = speech->transcribeWavData(wav, "base", "pt"); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_THAT(results, ::testing::Each("ok"));
}

}  // namespace
}  // namespace quenda
