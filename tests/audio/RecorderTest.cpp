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
// canonical 44-byte header, whose sizes match the file. Removes the file and returns its
// samples scaled to −1…1.
std::vector<float> expectEngineWav(const std::optional<std::filesystem::path>& file) {
    EXPECT_TRUE(file);
    const std::string bytes = file ? readFile(*file) : "";
    const auto info = parseWav(bytes);
    EXPECT_TRUE(info) << "not a complete WAV file";
    if (!info)
        return {};
    // Readable by the user alone: it holds what they said.
    EXPECT_EQ(std::filesystem::status(*file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(*file);
    EXPECT_EQ(file->parent_path(), paths::temporaryDirectory());
    const std::regex name("brevimo-rec-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.wav");
    EXPECT_TRUE(std::regex_match(file->filename().string(), name)) << *file;
    EXPECT_TRUE(info->isEngineFormat());
    EXPECT_EQ(info->dataOffset, 44u);
    EXPECT_EQ(bytes.size(), 44u + info->dataBytes);
    std::vector<int16_t> pcm(info->dataBytes / 2);
    // (copy_n, not memcpy: an empty recording has no buffer, and memcpy must not see null.)
    std::copy_n(bytes.data() + info->dataOffset, pcm.size() * 2,
                reinterpret_cast<char*>(pcm.data()));
    std::vector<float> samples(pcm.begin(), pcm.end());
    std::ranges::for_each(samples, [](float& sample) { sample /= 32768; });
    return samples;
}

double energy(const std::vector<float>& samples) {
    return std::pow(rms(samples), 2) * double(samples.size());
}

}  // namespace

// The whole utterance, at the level another program hears from the same source (a server may
// mix channels down louder than another: PipeWire's stereo-to-mono is 3 dB above PulseAudio's).
// Then repeated calls, and a recording stopped before its first block.
TEST(Recorder, RecordsWhatTheMicrophoneHearsAsA16kHzMonoWav) {
    TempDir dir;
    makeSpeech(dir / "speech.wav", "Olá, este é um teste do gravador de ditado.");
    const double spoken = wavSeconds(dir / "speech.wav");
    ASSERT_GT(spoken, 0.0);

    auto recorder = audio::Recorder::create();
    EXPECT_FALSE(recorder->outputURL());
    MonitorListener ear;
    const auto began = std::chrono::steady_clock::now();
    recorder->start();
    EXPECT_TRUE(recorder->isRecording());
    ASSERT_EQ(startPaplay(dir / "speech.wav")->waitForExit(), 0);
    // The sound played until now is in the recording once it is longer than the time since
    // the start (the stream began after it), plus the fragment that may sit in stdio's buffer.
    const std::chrono::duration<double> played = std::chrono::steady_clock::now() - began;
    std::error_code error;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto bytes = std::filesystem::file_size(*recorder->outputURL(), error);
            return !error && double(bytes) >= (played.count() + 0.2) * kRate * 2;
        },
        5s));
    const auto heard = ear.finish();
    const auto firstFile = recorder->stop();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - began;
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->outputURL(), firstFile);
    EXPECT_FALSE(recorder->stop());
    const auto samples = expectEngineWav(firstFile);

    EXPECT_GT(double(samples.size()) / kRate, spoken);
    EXPECT_LT(double(samples.size()) / kRate, elapsed.count() + 0.2);
    EXPECT_NEAR(10 * std::log10(energy(samples) / energy(heard)), 0, 1);  // within 1 dB

    // Stopped before any block: a valid empty recording, in a new file.
    recorder->start();
    const auto second = recorder->outputURL();
    recorder->start();  // already recording: same file, no error
    EXPECT_EQ(recorder->outputURL(), second);
    EXPECT_NE(second, firstFile);
    EXPECT_LT(expectEngineWav(recorder->stop()).size(), 8000u);  // at most a block or two
}
