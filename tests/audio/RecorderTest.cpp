#include "AudioTestSupport.h"
#include "audio/Recorder.h"
#include "platform/Paths.h"
#include "platform/PlatformError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace quenda;
using namespace quenda::test;
using namespace std::chrono_literals;

namespace {

// A WAV file as the speech engine needs it: 16 kHz mono 16-bit PCM, sizes matching the file.
void expectEngineFormat(const WavContents& wav) {
    EXPECT_EQ(wav.format, 1);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.sampleRate, 16000u);
    EXPECT_EQ(wav.bitsPerSample, 16);
    EXPECT_EQ(wav.fileSize, 44u + wav.dataSize);
    EXPECT_EQ(wav.riffSize, 36u + wav.dataSize);
}

double energy(const std::vector<float>& samples, uint32_t rate) {
    const double level = rms(samples);
    return level * level * double(samples.size()) / rate;
}

}  // namespace

TEST(Recorder, RecordsWhatTheMicrophoneHearsAsA16kHzMonoWav) {
    TempDir dir;
    const auto speech = dir / "speech.wav";
    ASSERT_EQ(runProgram("/usr/bin/espeak-ng", {"-v", "pt-br", "-w", speech.string(),
                                                "Olá, este é um teste do gravador de ditado."})
                  .status,
              0);
    const auto source = readWav(speech);
    ASSERT_TRUE(source);
    const double speechSeconds = double(source->samples.size()) / source->sampleRate;

    auto recorder = audio::Recorder::create();
    const auto began = std::chrono::steady_clock::now();
    recorder->start();
    EXPECT_TRUE(recorder->isRecording());
    sleepFor(300ms);
    ASSERT_EQ(startPaplay(speech)->waitForExit(), 0);
    sleepFor(300ms);
    const auto file = recorder->stop();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_FALSE(recorder->isRecording());

    ASSERT_TRUE(file);
    const auto wav = readWav(*file);
    ASSERT_TRUE(wav);
    expectEngineFormat(*wav);
    const double seconds = double(wav->samples.size()) / 16000;
    EXPECT_GT(seconds, speechSeconds);
    EXPECT_LT(seconds, elapsed + 0.2);
    // The whole utterance is in the file, at the level it was played (resampling keeps the
    // energy of the voice band).
    const double ratio = energy(wav->samples, 16000) / energy(source->samples, source->sampleRate);
    EXPECT_GT(ratio, 0.6);
    EXPECT_LT(ratio, 1.4);
    std::filesystem::remove(*file);
}

TEST(Recorder, EachRecordingGetsANewFileAndRepeatedCallsAreHarmless) {
    auto recorder = audio::Recorder::create();
    EXPECT_FALSE(recorder->stop());
    EXPECT_FALSE(recorder->outputURL());

    recorder->start();
    const auto first = recorder->outputURL();
    recorder->start();  // already recording: same file, no error
    EXPECT_EQ(recorder->outputURL(), first);
    sleepFor(200ms);
    const auto firstFile = recorder->stop();
    EXPECT_EQ(firstFile, first);
    EXPECT_FALSE(recorder->stop());
    EXPECT_EQ(recorder->outputURL(), first);

    recorder->start();
    sleepFor(200ms);
    const auto secondFile = recorder->stop();

    ASSERT_TRUE(firstFile && secondFile);
    EXPECT_NE(*firstFile, *secondFile);
    const std::regex name(
        "brevimo-rec-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.wav");
    for (const auto& file : {*firstFile, *secondFile}) {
        EXPECT_EQ(file.parent_path(), paths::temporaryDirectory());
        EXPECT_TRUE(std::regex_match(file.filename().string(), name)) << file;
        const auto wav = readWav(file);
        ASSERT_TRUE(wav) << file;
        expectEngineFormat(*wav);
        std::filesystem::remove(file);
    }
}

TEST(Recorder, StoppedAtOnceLeavesAValidEmptyRecording) {
    auto recorder = audio::Recorder::create();
    recorder->start();
    const auto file = recorder->stop();
    ASSERT_TRUE(file);
    const auto wav = readWav(*file);
    ASSERT_TRUE(wav);
    expectEngineFormat(*wav);
    EXPECT_LT(wav->dataSize, 16000u);  // at most a block or two, normally none
    std::filesystem::remove(*file);
}

TEST(Recorder, WithoutASoundServerTheMicrophoneIsUnavailable) {
    TempDir dir;
    ScopedEnv server("PULSE_SERVER", "unix:" + (dir / "no-such-server").string());
    auto recorder = audio::Recorder::create();
    bool granted = false;
    recorder->requestPermission([&](bool answer) { granted = answer; });
    EXPECT_TRUE(granted);
    try {
        recorder->start();
        FAIL() << "start succeeded without a sound server";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.domain(), "Recorder");
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.description(), "Microfone indisponível");
    }
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->outputURL());
    EXPECT_FALSE(recorder->stop());
}
