// Conversion of audio files into the engine's format with the real ffmpeg (and small stand-in
// converters where a machine without one of them is played), and transcription through the
// fake whisper-server: the request as it arrives on the wire, every kind of answer, and the
// engine's temporary files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <regex>
#include <thread>

#include "FakeServers.h"
#include "TestAudio.h"
#include "engine/MultipartBody.h"
#include "engine/ShortWindow.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "platform/LoopbackPorts.h"
#include "platform/Text.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::readFile;
using test::thrown;
using test::writeFile;
using Engine = TranscriptionEngine;

// A body's bytes as a sender gets them: read in pieces that straddle its parts.
std::string readAll(const MultipartBody& body) {
    std::string bytes;
    char piece[7];
    while (size_t n = body.read(bytes.size(), piece))
        bytes.append(piece, n);
    return bytes;
}

TEST(MultipartBodyTest, TheBytesAreExactlyThePromisedLayoutAndTheFileIsSentAsItWasAdded) {
    test::TempDir dir;
    writeFile(dir / "audio", "RIFF\0\r\n--"s);
    MultipartBody body("Boundary-B");
    body.addField("response_format", "json");
    body.addField("language", "pt");
    body.beginFile("file", "audio.wav", "audio/wav");
    body.appendFileContents(dir / "audio");
    body.finish();
    fs::remove(dir / "audio");  // as the engine removes its converted file before it sends
    const std::string expected =
        "--Boundary-B\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\njson\r\n"
        "--Boundary-B\r\nContent-Disposition: form-data; name=\"language\"\r\n"
        "\r\npt\r\n--Boundary-B\r\nContent-Disposition: form-data; "
        "name=\"file\"; filename=\"audio.wav\"\r\nContent-Type: audio/wav\r\n"
        "\r\nRIFF\0\r\n--\r\n--Boundary-B--\r\n"s;
    EXPECT_EQ(body.contentType(), "multipart/form-data; boundary=Boundary-B");
    EXPECT_EQ(body.size(), expected.size());
    EXPECT_EQ(readAll(body), expected);
}

class Transcription : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.apply();
        test::makeSpeech(speech_, "um dois três quatro cinco");
    }
    // The engine's own files left in the temporary directory.
    size_t leftovers() const { return std::distance(fs::directory_iterator(tmp_), {}); }
    static EngineError normalizeError(const fs::path& input, const ConverterSettings& with = {}) {
        return thrown<EngineError>([&] { Engine::normalize(input, with); });
    }
    static void expectEngineWav(const fs::path& wav, double seconds) {
        auto info = parseWav(readFile(wav));
        ASSERT_TRUE(info && info->isEngineFormat());
        EXPECT_NEAR(info->seconds(), seconds, 0.1);  // lossy codecs add a little padding
    }
    // An engine whose server answers as the directives say.
    std::unique_ptr<Engine> engine(const std::vector<std::string>& directives,
                                   std::chrono::milliseconds timeout = std::chrono::minutes(30)) {
        dir_.installModel("ggml-base.bin", directives);
        // Not the preferred port: a server stopped mid-request leaves its socket there for a
        // minute, and the preferred-port tests need it.
        ServerSettings settings;
        settings.preferredPort = findFreeLoopbackPort().value_or(8642);
        settings.stopGracePeriod = std::chrono::milliseconds(300);
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        settings.inferenceTimeout = timeout;
        return std::make_unique<Engine>(settings);
    }
    std::string tone(double seconds) {
        test::makeTone(dir_ / "tom.wav", seconds, 16000, 1);
        return readFile(dir_ / "tom.wav");
    }

    test::SpeechHome dir_;
    fs::path tmp_ = dir_.tmp();
    fs::path speech_ = dir_ / "speech.wav";
};

// Each input is named as a user may name it, relative to the current directory: like an
// option or an address, with spaces and accents, some with an upper-case extension.
TEST_F(Transcription, EveryListedFormatBecomesANewEngineWavAndTheInputIsUntouched) {
    const double seconds = test::wavSeconds(speech_);
    std::vector<std::string> extensions(Engine::nativeExtensions.begin(),
                                        Engine::nativeExtensions.end());
    extensions.insert(extensions.end(), Engine::ffmpegExtensions.begin(),
                      Engine::ffmpegExtensions.end());
    const std::string prefixes[] = {"-y.", "-i.", "com espaço e ção.", "file:fala.", "--."};
    const auto cwd = fs::current_path();
    fs::current_path(dir_.path());
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        if (i % 3 == 0)
            std::ranges::transform(extensions[i], extensions[i].begin(), ::toupper);
        const std::string input = prefixes[i % 5] + extensions[i];
        SCOPED_TRACE(input);
        test::convertAudio(speech_, dir_ / input);
        const std::string before = readFile(input);
        fs::path outputPath;
        {
            TemporaryFile output = Engine::normalize(input), second = Engine::normalize(input);
            outputPath = output.path();
            EXPECT_NE(outputPath, second.path());
            EXPECT_EQ(outputPath.parent_path(), tmp_);
            EXPECT_TRUE(std::regex_match(outputPath.filename().string(),
                                         std::regex("quenda-[-0-9A-Fa-f]{36}\\.wav")));
            expectEngineWav(outputPath, seconds);
        }
        EXPECT_FALSE(fs::exists(outputPath));
        EXPECT_EQ(readFile(input), before);
    }
    fs::current_path(cwd);
    EXPECT_EQ(leftovers(), 0u);
}

TEST_F(Transcription, RejectedFilesNameThemselvesAndLeaveNothing) {
    for (const std::string name : {"LEIAME", "Notas.TXT", "fala."})
        EXPECT_EQ(normalizeError(dir_ / name), EngineError::unsupportedFile(name));
    // A damaged file: only ffmpeg's own error lines are reported, and its partial output goes.
    writeFile(dir_ / "estragado.mp3", std::string(4096, '\x5a'));
    auto damaged = normalizeError(dir_ / "estragado.mp3");
    EXPECT_EQ(damaged.kind(), EngineError::Kind::conversionFailed);
    EXPECT_FALSE(damaged.payload().empty());
    EXPECT_EQ(damaged.payload(), text::trimWhitespace(damaged.payload()));
    EXPECT_EQ(leftovers(), 0u);
}

TEST_F(Transcription, ConvertersArePlatformFirstThenFFmpegAndNeitherAsksForFFmpeg) {
    test::convertAudio(speech_, dir_ / "fala.m4a");
    const auto arguments = dir_ / "afconvert-args";
    ConverterSettings settings;
    settings.platformConverter = dir_ / "afconvert";  // a stand-in that fails
    writeFile(settings.platformConverter,
              "#!/bin/sh\nfor a; do echo \"$a\" >> '" + arguments.string() +
                  "'; done\necho '  afconvert: formato ruim ' >&2\nexit 1\n");
    fs::permissions(settings.platformConverter, fs::perms::owner_all);
    // It fails, and ffmpeg converts the same input into the same output.
    TemporaryFile output = Engine::normalize(dir_ / "fala.m4a", settings);
    expectEngineWav(output.path(), test::wavSeconds(speech_));
    EXPECT_EQ(readFile(arguments), "-f\nWAVE\n-d\nLEI16@16000\n-c\n1\n" +
                                       (dir_ / "fala.m4a").string() + "\n" +
                                       output.path().string() + "\n");
    // Without ffmpeg its trimmed diagnostic is the failure.
    settings.findFFmpeg = [] { return std::optional<fs::path>(); };
    EXPECT_EQ(normalizeError(dir_ / "fala.m4a", settings),
              EngineError::conversionFailed("afconvert: formato ruim"));

    // With neither, every format asks for ffmpeg, not for a converter the user never heard of.
    settings.platformConverter = dir_ / "no-afconvert";
    EXPECT_EQ(normalizeError(dir_ / "FALA.MP3", settings), EngineError::needsFFmpeg(".mp3"));
    EXPECT_EQ(normalizeError(dir_ / "fala.opus", settings), EngineError::needsFFmpeg(".opus"));
    EXPECT_EQ(leftovers(), 1u);  // the converted m4a still held above
}

TEST_F(Transcription, AFileArrivesAsThePromisedMultipartRequestAndComesBackAsOneLine) {
    const auto input = dir_ / "fala ção.mp3";
    test::convertAudio(speech_, input);
    auto speech = engine({"text um|dois  três|"});
    EXPECT_EQ(speech->transcribe(input, "base", "pt"), "um dois três");

    // WAV data goes unchanged, with a fresh boundary each time.
    const std::string wav = tone(1.5);
    EXPECT_EQ(speech->transcribeWavData(wav, "base", "en"), "um dois três");
    EXPECT_EQ(speech->transcribeWavData(wav, "base", "en"), "um dois três");
    EXPECT_EQ(readFile(dir_ / "received/inference-3.wav"), wav);
    // Fast mode: the same file.
    EXPECT_EQ(speech->transcribe(input, "base", "pt", {true, std::nullopt}), "um dois três");
    EXPECT_EQ(leftovers(), 0u);

    auto requests = dir_.inferences();
    ASSERT_EQ(requests.size(), 4u);
    // (The body's bytes around the parts: see MultipartBodyTest.)
    for (const auto& request : requests)
        EXPECT_TRUE(std::regex_match(request["content_type"].get<std::string>(),
                                     std::regex("multipart/form-data; boundary=Boundary-[0-9A-F]{8}"
                                                "(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
    EXPECT_NE(requests[1]["content_type"], requests[2]["content_type"]);
    nlohmann::json fields = {
        {"response_format", "json"}, {"temperature", "0.0"}, {"language", "pt"}};
    EXPECT_EQ(requests[0]["fields"], fields);
    EXPECT_EQ(
        requests[0]["files"],
        nlohmann::json({{"file", {{"filename", "audio.wav"}, {"content_type", "audio/wav"}}}}));
    const double seconds = requests[0]["wav"]["seconds"].get<double>();
    EXPECT_NEAR(seconds, test::wavSeconds(speech_), 0.1);
    EXPECT_EQ(requests[1]["fields"]["language"], "en");
    // A fast request is the plain one with the window, in frames (50 a second, rounded up,
    // and a margin of 128). (The window of WAV data: see the fast answers.)
    fields["audio_ctx"] = std::to_string(128 + static_cast<int>(std::ceil(seconds * 50)));
    EXPECT_EQ(requests[3]["fields"], fields);
}

TEST(ShortWindow, IsTheAudioInFramesWithAMarginBelowTheFullWindowOnly) {
    const std::tuple<uint64_t, uint32_t, std::optional<int>> cases[] = {
        {320, 16000, 129},
        {321, 16000, 130},
        {80000, 16000, 378},
        {22050 * 5, 22050, 378},
        {16000 * 27, 16000, 1478},
        {16000 * 28, 16000, 1500},  // capped at the full window
        {16000 * 30 - 1, 16000, 1500},
        {16000 * 30, 16000, std::nullopt},
        {100, 0, std::nullopt},
    };
    for (const auto& [samples, rate, window] : cases)
        EXPECT_EQ(shortwindow::audioContext(samples, rate), window) << samples << " at " << rate;
}

TEST(ShortWindow, FailuresAreLoopsRunawaysAndSilenceAnswersForSound) {
    const std::string loop = "Então eu disse que não sei, Não sei. não sei, Não sei.";
    std::string words = "palavra0", cedillas;  // 179 characters without a repetition; 54 "ç"
    for (int i = 1; i < 19; ++i)
        words += " palavra" + std::to_string(i);
    for (int i = 0; i < 54; ++i)
        cedillas += "ç";
    const std::tuple<std::string, double, std::optional<bool>, bool> cases[] = {
        {"Bom dia a todos.", 2, true, false},
        {"", 2, true, true},
        {"  ", 2, false, false},
        {"", 1.0, std::nullopt, true},  // unmeasured: sound from one second on
        {"", 0.9, std::nullopt, false},
        {loop, 5, true, true},                                             // 2 words, 4 times
        {"sim, sim, sim, sim, sim, sim, sim.", 5, true, false},            // 1 word, 7 times
        {"sim sim sim sim sim sim sim sim", 5, true, true},                // ... 8 times
        {"não sei não sei não sei e depois outra coisa", 5, true, false},  // not at the end
        {words, 5.1, true, true},  // more than 25 characters a second and 50
        {words, 5.2, true, false},
        {cedillas, 0.2, true, false},  // characters, not bytes
    };
    for (const auto& [text, seconds, sound, failure] : cases)
        EXPECT_EQ(shortwindow::looksLikeFailure(text, seconds, sound), failure) << text;
}

TEST_F(Transcription, AFastAnswerThatLooksFailedIsAskedOnceMoreWithTheFullWindow) {
    std::string loop = "ok";
    for (int i = 0; i < 8; ++i)
        loop += " de novo";
    const std::string runaway(200, 'a');
    struct Case {
        const char* name;
        double seconds;
        TranscriptionOptions options;
        std::vector<std::string> directives;
        std::vector<std::string> windows;  // each request's audio_ctx ("": none)
        std::string text;
    };
    const Case cases[] = {
        {"a loop", 1.5, {true, true}, {"text_1 " + loop, "text_2 certo"}, {"203", ""}, "certo"},
        // The second answer is kept as it is.
        {"a runaway", 1.5, {true, true}, {"text " + runaway}, {"203", ""}, runaway},
        {"nothing for silence", 1.5, {true, false}, {"text  "}, {"203"}, ""},
        {"the window's length", 30, {true, true}, {"text " + loop}, {""}, loop},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir_.record());
        auto speech = engine(c.directives);
        EXPECT_EQ(speech->transcribeWavData(tone(c.seconds), "base", "pt", c.options), c.text);
        EXPECT_EQ(dir_.audioWindows(), c.windows);
    }
}

TEST_F(Transcription, EveryKindOfAnswerEndsInTextOrAClearFailure) {
    const std::string wav = tone(0.5);
    const std::string serverError = R"({"error":"failed to process audio"})";
    const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
        {{"text  "}, "", ""},
        {{"inference_body {\"text\": \"\\r\\n a\\n\\n   b \\n\", \"t\": 1}"}, "a b", ""},
        {{"inference_status 500", "inference_body " + serverError}, "", serverError},
        {{"inference_body"}, "", "resposta vazia"},
        {{"inference_body Invalid request"}, "", "Invalid request"},
        {{"inference_body {\"text\": 7}"}, "", "{\"text\": 7}"},
        {{"inference_body \xff\xfe"}, "", "resposta inválida"},
    };
    for (const auto& [directives, text, failure] : cases) {
        SCOPED_TRACE(directives.back());
        auto speech = engine(directives);
        if (failure.empty())
            EXPECT_EQ(speech->transcribeWavData(wav, "base", "pt"), text);
        else
            EXPECT_EQ(thrown<EngineError>([&] { speech->transcribeWavData(wav, "base", "pt"); }),
                      EngineError::transcriptionFailed(failure));
    }
}

TEST_F(Transcription, TransportFailuresAreReportedWithTheirDescription) {
    const std::string wav = tone(0.5);
    // A server stopped while the request waits for it.
    auto speech = engine({"inference_delay_seconds 3"});
    speech->ensureServer("base");
    std::jthread stopper([&] {
        // The fake keeps the audio before it delays its answer: the request is under way.
        if (test::waitUntil([&] { return fs::exists(dir_ / "received/inference-1.wav"); }))
            speech->stopServer();
    });
    auto stopped = thrown<EngineError>([&] { speech->transcribeWavData(wav, "base", "pt"); });
    stopper.join();
    EXPECT_EQ(stopped.kind(), EngineError::Kind::transcriptionFailed);
    EXPECT_FALSE(stopped.payload().empty());

    auto slow = engine({"inference_delay_seconds 3"}, std::chrono::milliseconds(500));
    auto timedOut = thrown<EngineError>([&] { slow->transcribeWavData(wav, "base", "pt"); });
    EXPECT_EQ(timedOut.kind(), EngineError::Kind::transcriptionFailed);
    EXPECT_THAT(timedOut.payload(), ::testing::HasSubstr("timed out"));

    // A body whose file was shortened or lengthened after it was added is never sent as
    // another size: the read failure ends the upload and leaves the send. A body that ends
    // early is a failure at once, not a wait for the time-out.
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(slow->serverPort()) + "/";
    request.timeout = std::chrono::seconds(10);
    for (const std::string& changed : {wav.substr(0, wav.size() / 2), wav + "mais"}) {
        writeFile(dir_ / "curta.wav", wav);
        MultipartBody body("Boundary-B");
        body.appendFileContents(dir_ / "curta.wav");
        writeFile(dir_ / "curta.wav", changed);
        request.readBody = std::bind_front(&MultipartBody::read, &body);
        request.bodySize = body.size();
        EXPECT_EQ(thrown<fs::filesystem_error>([&] { Http::send(request); }).path1(),
                  dir_ / "curta.wav");
    }
    request.readBody = [](uint64_t, std::span<char>) { return size_t(0); };
    EXPECT_FALSE(Http::send(request).answered());
}

// A request for another model waits for the one in flight instead of restarting its server.
TEST_F(Transcription, ARequestForAnotherModelWaitsForTheOneInFlight) {
    const std::string wav = tone(0.5);
    auto speech = engine({"text base", "inference_delay_seconds 0.5"});
    dir_.installModel("ggml-large-v3-turbo.bin", {"text turbo"});
    std::string first;
    std::jthread base([&] {
        try {
            first = speech->transcribeWavData(wav, "base", "pt");
        } catch (const EngineError& error) {
            first = error.what();
        }
    });
    ASSERT_TRUE(test::waitUntil([&] { return fs::exists(dir_ / "received/inference-1.wav"); }));
    EXPECT_EQ(speech->transcribeWavData(wav, "large-v3-turbo", "pt"), "turbo");
    base.join();
    EXPECT_EQ(first, "base");
}

}  // namespace
}  // namespace quenda
