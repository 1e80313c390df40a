#include "AudioTestSupport.h"
#include "audio/MovedStreamsFile.h"
#include "audio/ProcessTapCapturePulse.h"
#include "audio/PulsePlayback.h"
#include "platform/PlatformError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace quenda;
using namespace quenda::test;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kRate = 16000;
constexpr const char* kCaptureSink = audio::ProcessTapCapturePulse::kSinkName;

class ProcessTapCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override { writeToneWav(dir / "tone.wav", 440, 30.0); }

    std::unique_ptr<audio::ProcessTapCapturePulse> makeCapture() {
        auto capture = std::make_unique<audio::ProcessTapCapturePulse>(movedFile);
        capture->onSamples = collected.sink();
        return capture;
    }

    // What reaches the speakers over `duration`, heard by another program.
    static std::vector<float> listenToSpeakers(std::chrono::milliseconds duration = 800ms) {
        MonitorListener speakers;
        sleepFor(duration);
        return speakers.finish();
    }

    // Waits for the capture to carry the 440 Hz tone and checks it is the tone.
    void expectToneCaptured() {
        ASSERT_TRUE(collected.waitForSound(0.2, kRate / 4, 5s));
        const auto samples = collected.samples();
        const std::vector<float> window(samples.end() - long(kRate / 4), samples.end());
        EXPECT_NEAR(toneFrequency(window, kRate), 440, 12);
    }

    void expectNothingLeft() {
        EXPECT_FALSE(sinkIndex(kCaptureSink));
        EXPECT_FALSE(moduleLoadedWith(std::string(kCaptureSink) + ".monitor"));
        EXPECT_FALSE(std::filesystem::exists(movedFile));
    }

    TempDir dir;
    std::filesystem::path movedFile = dir / "moved-streams.json";
    SampleCollector collected;
};

}  // namespace

TEST_F(ProcessTapCaptureTest, MutedCaptureTakesTheSoundOffTheSpeakersUntilStop) {
    auto player = startPaplay(dir / "tone.wav");
    ASSERT_TRUE(waitForSinkInputOf(player->pid(), 5s));
    auto capture = makeCapture();
    capture->start(true);

    EXPECT_EQ(sinkOfProcess(player->pid()), kCaptureSink);
    expectToneCaptured();
    EXPECT_LT(peak(listenToSpeakers()), 0.001);  // nothing of it reaches the output
    EXPECT_EQ(collected.threadCount(), 1u);

    capture->stop();
    EXPECT_EQ(sinkOfProcess(player->pid()), "DefaultSink");
    EXPECT_GT(rms(listenToSpeakers()), 0.2);  // audible again
    expectNothingLeft();
    capture->stop();  // a second stop does nothing
    player->kill();
}

TEST_F(ProcessTapCaptureTest, UnmutedCaptureKeepsTheSoundAudibleAndCatchesLaterStreams) {
    auto capture = makeCapture();
    capture->start(false);
    // This application starts playing only after the capture began.
    auto player = startPaplay(dir / "tone.wav");
    ASSERT_TRUE(waitUntil([&] { return sinkOfProcess(player->pid()) == kCaptureSink; }, 5s));
    expectToneCaptured();
    EXPECT_GT(rms(listenToSpeakers()), 0.2);

    capture.reset();  // discarding the capture stops it
    EXPECT_EQ(sinkOfProcess(player->pid()), "DefaultSink");
    EXPECT_GT(rms(listenToSpeakers()), 0.2);
    expectNothingLeft();
    player->kill();
}

TEST_F(ProcessTapCaptureTest, OurOwnPlaybackIsNeitherMovedNorCaptured) {
    auto capture = makeCapture();
    capture->start(true);
    ASSERT_TRUE(collected.waitForSize(kRate / 10, 5s));
    const std::size_t before = collected.size();

    MonitorListener speakers;
    sleepFor(300ms);
    audio::PulsePlayback voice("Tradução falada");
    voice.play(sineTone(440, 1.0, 22050), 22050);
    const auto heard = speakers.finish();
    capture->stop();

    EXPECT_GT(peak(heard), 0.3);  // our voice stayed on the real output
    EXPECT_GT(collected.size() - before, kRate / 2);
    EXPECT_LT(peak(collected.samples(), before), 0.001);
}

TEST_F(ProcessTapCaptureTest, ADesktopThatSwitchesToNewDevicesKeepsItsOutputAndOurVoice) {
    const auto switcher =
        pactl({"load-module", "module-switch-on-connect", "ignore_virtual=false"});
    auto capture = makeCapture();
    capture->start(true);
    const auto info = pactl({"info"});
    EXPECT_NE(info.find("Default Sink: DefaultSink\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Default Source: DefaultSink.monitor\n"), std::string::npos) << info;
    MonitorListener speakers;
    audio::PulsePlayback voice("Tradução falada");
    voice.play(sineTone(440, 0.5, 22050), 22050);
    EXPECT_GT(peak(speakers.finish()), 0.3);  // our voice is on the real output
    capture->stop();
    pactl({"unload-module", switcher.substr(0, switcher.find('\n'))});
}

TEST_F(ProcessTapCaptureTest, AStreamStrandedByACrashIsRestoredToItsOwnSinkAtTheNextStart) {
    const auto otherModule = pactl({"load-module", "module-null-sink", "sink_name=OtherSink"});
    auto player = startPaplay(dir / "tone.wav", "OtherSink");
    ASSERT_TRUE(waitForSinkInputOf(player->pid(), 5s));

    // A run that dies without stopping leaves the stream on the capture sink.
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    auto crashing = Process::launch(QUENDA_PROCESS_TAP_HELPER, {movedFile.string()}, options);
    ASSERT_TRUE(waitUntil([&] { return sinkOfProcess(player->pid()) == kCaptureSink; }, 10s))
        << crashing->standardErrorText();
    crashing->kill();
    crashing->waitForExit();
    EXPECT_EQ(sinkOfProcess(player->pid()), kCaptureSink);
    EXPECT_EQ(audio::MovedStreamsFile(movedFile).load().size(), 1u);

    auto capture = makeCapture();
    capture->start(false);
    expectToneCaptured();
    capture->stop();

    EXPECT_EQ(sinkOfProcess(player->pid()), "OtherSink");
    const auto onOther = [] {
        MonitorListener other("OtherSink.monitor");
        sleepFor(800ms);
        return other.finish();
    }();
    EXPECT_GT(rms(onOther), 0.2);
    expectNothingLeft();
    player->kill();
    pactl({"unload-module", otherModule.substr(0, otherModule.find('\n'))});
}

TEST(ProcessTapCapture, FailuresNameTheStepAndStopIsAlwaysSafe) {
    TempDir dir;
    audio::ProcessTapCapturePulse capture(dir / "moved.json");
    capture.stop();  // never started
    {
        ScopedEnv server("PULSE_SERVER", "unix:" + (dir / "no-such-server").string());
        try {
            capture.start(true);
            FAIL() << "start succeeded without a sound server";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.domain(), "ProcessTapCapture");
            EXPECT_NE(error.code(), 0);
            EXPECT_EQ(error.description(),
                      "conectar ao servidor de som falhou (" + std::to_string(error.code()) + ")");
        }
    }
    capture.stop();
    capture.stop();
}

TEST(MovedStreamsFile, KeepsTheOriginalSinksAndIgnoresADamagedFile) {
    TempDir dir;
    audio::MovedStreamsFile file(dir / "moved.json");
    EXPECT_TRUE(file.load().empty());
    ASSERT_TRUE(file.save({{7, "alsa_output.pci"}, {12, "OtherSink"}}));
    EXPECT_EQ(file.load(),
              (audio::MovedStreamsFile::Streams{{7, "alsa_output.pci"}, {12, "OtherSink"}}));
    writeFile(dir / "moved.json", "{\"streams\": [{\"index\": 3");
    EXPECT_TRUE(file.load().empty());
    writeFile(dir / "moved.json",
              R"({"streams": [{"index": -1, "sink": "A"}, {"index": 4, "sink": "B"}]})");
    EXPECT_EQ(file.load(), (audio::MovedStreamsFile::Streams{{4, "B"}}));
    file.remove();
    EXPECT_FALSE(std::filesystem::exists(dir / "moved.json"));
}
