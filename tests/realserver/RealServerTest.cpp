// The engine against the real whisper.cpp server (random-weights tiny model): what the
// stand-in server cannot show — that the real program accepts Quenda's arguments, probe and
// multipart request (also with fast mode's audio window), refuses a damaged model in the way
// the engine reports, and is gone after every path.

#include <gtest/gtest.h>

#include "RealServer.h"
#include "TestAudio.h"
#include "audio/WavFileWriter.h"
#include "engine/TranscriptionEngine.h"

namespace quenda {
namespace {

namespace fs = std::filesystem;

class RealServer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto missing = test::missingRealServerPiece())
            GTEST_SKIP() << *missing;
        tiny_ = test::cachedModel("tiny");
        // Both catalog entries stand for the same small model, so a model switch is cheap.
        fs::create_directories(dir_ / "models");
        fs::create_symlink(tiny_, dir_ / "models" / "ggml-base.bin");
        fs::create_symlink(tiny_, dir_ / "models" / "ggml-large-v3-turbo.bin");
        settings_.serverProgram = *test::realServerProgram();
    }

    // Portuguese speech in the recorder's format: 16 kHz mono s16 under the 44-byte header the
    // recorder's own writer puts in front.
    std::string recorderWav() const {
        test::makeSpeech(dir_ / "speech.wav", "olá, isto é um teste do ditado");
        test::runTool("/usr/bin/sox",
                      {(dir_ / "speech.wav").string(), "-r", "16000", "-c", "1", "-b", "16", "-e",
                       "signed-integer", (dir_ / "speech.raw").string()});
        const std::string samples = test::readFile(dir_ / "speech.raw");
        audio::WavFileWriter writer(dir_ / "recording.wav", 16000, 1);
        EXPECT_TRUE(writer.append(samples.data(), samples.size()) && writer.finish());
        return test::readFile(dir_ / "recording.wav");
    }

    static void expectNoServerLeft() {
        EXPECT_TRUE(test::waitUntil([] { return test::childProcesses("whisper-server").empty(); }))
            << "a whisper-server is still running";
    }

    test::TempDir dir_;
    // The server's OpenMP threads sleep instead of spinning while they wait: on a machine whose
    // cores are all busy (the other tests, other builds) spinning makes its first request take
    // minutes instead of seconds.
    test::ScopedEnv ompWait_{"OMP_WAIT_POLICY", "passive"};
    test::ScopedEnv models_{"QUENDA_MODELS_DIR", (dir_ / "models").string()};
    fs::path tiny_;
    ServerSettings settings_;
};

TEST_F(RealServer, AnswersRecordingsAndConvertedFilesRestartsForAnotherModelAndLeavesNothing) {
    const std::string recording = recorderWav();
    test::makeSpeech(dir_ / "file.wav", "um arquivo convertido pelo ffmpeg");
    test::convertAudio(dir_ / "file.wav", dir_ / "file.mp3");
    {
        TranscriptionEngine engine(settings_);
        // An answer without a "text" string would throw; random weights make the text itself
        // gibberish, so only its arrival is checked.
        EXPECT_NO_THROW(engine.transcribeWavData(recording, "base", "pt"));
        EXPECT_NO_THROW(engine.transcribe(dir_ / "file.mp3", "base", "pt"));
        // Fast mode's window sized to the audio: a refused request (or one the server cannot
        // run) throws before any second request with the full window would be made.
        EXPECT_NO_THROW(engine.transcribeWavData(recording, "base", "pt", {true, std::nullopt}));

        // The model switch ended the first server. (That a switch restarts: see the engine's
        // tests.)
        EXPECT_NO_THROW(engine.transcribeWavData(recording, "large-v3-turbo", "pt"));
        EXPECT_EQ(test::childProcesses("whisper-server").size(), 1u);
    }
    // The engine's destructor stops the server it runs.
    expectNoServerLeft();
}

TEST_F(RealServer, TruncatedModelIsReportedAsAFailedStart) {
    const std::string model = test::readFile(tiny_);
    fs::remove(dir_ / "models" / "ggml-base.bin");
    test::writeFile(dir_ / "models" / "ggml-base.bin", model.substr(0, model.size() / 2));
    TranscriptionEngine engine(settings_);
    auto error = test::thrown<EngineError>([&] { engine.ensureServer("base"); });
    EXPECT_EQ(error.errorDescription(),
              "Falha ao iniciar o motor Whisper: processo encerrou ao carregar o modelo");
    expectNoServerLeft();
}

}  // namespace
}  // namespace quenda
