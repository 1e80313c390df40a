#include "audio/Recorder.h"

#include <gtest/gtest.h>

#include <regex>

#include "AudioTestSupport.h"
#include "TestAudio.h"
#include "platform/Paths.h"

using namespace quenda;
using namespace quenda::test;

namespace {

// A complete recording as the speech engine needs it: 16 kHz mono 16-bit PCM behind the
// canonical 44-byte header, whose sizes match the file. Removes the file.
std::vector<float> expectEngineWav(const std::optional<std::filesystem::path>& file) {
    EXPECT_TRUE(file);
    const auto wav = file ? readWav(*file) : std::nullopt;
    EXPECT_TRUE(wav) << "not a complete WAV file";
    if (!file || !wav)
        return {};
    std::filesystem::remove(*file);
    EXPECT_EQ(file->parent_path(), paths::temporaryDirectory());
    const std::regex name("brevimo-rec-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.wav");
    EXPECT_TRUE(std::regex_match(file->filename().string(), name)) << *file;
    EXPECT_TRUE(wav->info.isEngineFormat());
    EXPECT_EQ(wav->info.dataOffset, 44u);
    EXPECT_EQ(wav->fileSize, 44u + wav->info.dataBytes);
    return wav->samples;
}

double energy(const std::vector<float>& samples, uint32_t rate) {
    return std::pow(rms(samples), 2) * double(samples.size()) / rate;
}

}  // namespace

TEST(Recorder, RecordsWhatTheMicrophoneHearsAsA16kHzMonoWav) {
    TempDir dir;
    makeSpeech(dir / "speech.wav", "Olá, este é um teste do gravador de ditado.");
    const auto speech = readWav(dir / "speech.wav");
    ASSERT_TRUE(speech);

    auto recorder = audio::Recorder::create();
    const auto began = std::chrono::steady_clock::now();
    recorder->start();
    EXPECT_TRUE(recorder->isRecording());
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(startPaplay(dir / "speech.wav")->waitForExit(), 0);
    std::this_thread::sleep_for(300ms);
    const auto samples = expectEngineWav(recorder->stop());
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - began;
    EXPECT_FALSE(recorder->isRecording());

    EXPECT_GT(double(samples.size()) / kRate, speech->info.seconds());
    EXPECT_LT(double(samples.size()) / kRate, elapsed.count() + 0.2);
    // The whole utterance is in the file, at the level it was played (resampling keeps the
    // energy of the voice band).
    const double ratio = energy(samples, kRate) / energy(speech->samples, speech->info.sampleRate);
    EXPECT_GT(ratio, 0.6);
    EXPECT_LT(ratio, 1.4);
}

TEST(Recorder, EachRecordingGetsANewFileAndRepeatedCallsAreHarmless) {
    auto recorder = audio::Recorder::create();
    EXPECT_FALSE(recorder->stop());
    EXPECT_FALSE(recorder->outputURL());

    // Stopped before any block: a valid empty recording.
    recorder->start();
    const auto first = recorder->outputURL();
    recorder->start();  // already recording: same file, no error
    EXPECT_EQ(recorder->outputURL(), first);
    const auto firstFile = recorder->stop();
    EXPECT_EQ(firstFile, first);
    EXPECT_FALSE(recorder->stop());
    EXPECT_EQ(recorder->outputURL(), first);
    EXPECT_LT(expectEngineWav(firstFile).size(), 8000u);  // at most a block or two, normally none

    recorder->start();
    std::this_thread::sleep_for(200ms);
    const auto secondFile = recorder->stop();
    EXPECT_NE(firstFile, secondFile);
    expectEngineWav(secondFile);
}
