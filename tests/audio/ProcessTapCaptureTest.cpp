#include "audio/ProcessTapCapturePulse.h"

#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestAudio.h"
#include "audio/MovedStreamsFile.h"

using namespace quenda;
using namespace quenda::test;

namespace {

constexpr const char* kCaptureSink = audio::ProcessTapCapturePulse::kSinkName;

class ProcessTapCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override { makeTone(dir / "tone.wav", 30.0); }

    // The capture sink, its loopback and the record of moved streams are all gone.
    void expectNothingLeft() {
        EXPECT_EQ(modulesNaming(kCaptureSink), std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(movedFile));
    }

    TempDir dir;
    std::filesystem::path movedFile = dir / "moved-streams.json";
};

}  // namespace

// Muted, a stream that played before the start leaves the speakers; not muted, one that starts
// after it stays audible. Both are captured, and back on their sink and audible after the stop.
TEST_F(ProcessTapCaptureTest, CapturesOtherApplicationsAndGivesThemBackAtStop) {
    for (bool mute : {true, false}) {
        SCOPED_TRACE(mute ? "muted" : "not muted");
        SampleCollector collected;
        auto player = mute ? startPaplay(dir / "tone.wav") : nullptr;
        auto capture = std::make_unique<audio::ProcessTapCapturePulse>(movedFile);
        capture->onSamples = collected.sink();
        capture->start(mute);
        if (!mute)
            player = startPaplay(dir / "tone.wav");
        ASSERT_TRUE(waitUntil([&] { return sinkOfProcess(player->pid()) == kCaptureSink; }, 5s));
        EXPECT_NEAR(toneFrequency(collected.waitForSound()), 440, 10);  // the other's tone
        const auto heard = MonitorListener::listen();
        EXPECT_TRUE(mute ? peak(heard) < 0.001 : rms(heard) > 0.2) << rms(heard);

        if (mute)
            capture->stop();  // then again as it goes: a second stop does nothing
        capture.reset();      // not muted, discarding the capture is what stops it
        EXPECT_EQ(sinkOfProcess(player->pid()), "DefaultSink");
        EXPECT_GT(rms(MonitorListener::listen()), 0.2);
        expectNothingLeft();
    }
}

// Also on a desktop that switches to every new device: the capture sink must take neither the
// default output nor the default input, nor our voice.
TEST_F(ProcessTapCaptureTest, OurOwnPlaybackIsNeitherMovedNorCaptured) {
    UnloadModulesAtEnd switcher{"module-switch-on-connect"};
    pactl({"load-module", "module-switch-on-connect", "ignore_virtual=false"});
    SampleCollector collected;  // outlives the capture that delivers to it
    audio::ProcessTapCapturePulse capture(movedFile);
    capture.onSamples = collected.sink();
    capture.start(true);
    const auto info = pactl({"info"});
    EXPECT_NE(info.find("Default Sink: DefaultSink\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Default Source: DefaultSink.monitor\n"), std::string::npos) << info;
    expectOwnVoiceNotCaptured(collected, 0.001);
}

TEST_F(ProcessTapCaptureTest, AStreamStrandedByACrashIsRestoredToItsOwnSinkAtTheNextLaunch) {
    UnloadModulesAtEnd otherSink{"sink_name=OtherSink"};
    pactl({"load-module", "module-null-sink", "sink_name=OtherSink"});
    auto player = startPaplay(dir / "tone.wav", "OtherSink");

    // A run that dies without stopping leaves the stream on the capture sink.
    ProcessOptions options;
    options.standardError = ProcessOptions::Output::capture;
    auto crashing = launchChild(QUENDA_PROCESS_TAP_HELPER, {movedFile.string()}, options);
    ASSERT_TRUE(waitUntil([&] { return sinkOfProcess(player->pid()) == kCaptureSink; }))
        << crashing->standardErrorText();
    crashing->kill();
    crashing->waitForExit();
    EXPECT_EQ(sinkOfProcess(player->pid()), kCaptureSink);

    // The application gives it back as it starts, before any capture.
    audio::ProcessTapCapturePulse::giveBackLeftovers(movedFile);
    EXPECT_EQ(sinkOfProcess(player->pid()), "OtherSink");
    EXPECT_GT(rms(MonitorListener::listen("OtherSink.monitor")), 0.2);
    expectNothingLeft();
}

TEST(MovedStreamsFile, KeepsTheOriginalSinksAndIgnoresADamagedFile) {
    TempDir dir;
    audio::MovedStreamsFile file(dir / "moved.json");
    EXPECT_TRUE(file.load().empty());
    const audio::MovedStreamsFile::Streams streams{{7, "alsa_output.pci"}, {12, "OtherSink"}};
    ASSERT_TRUE(file.save(streams));
    EXPECT_EQ(file.load(), streams);
    writeFile(dir / "moved.json", "{\"streams\": [{\"index\": 3");
    EXPECT_TRUE(file.load().empty());
    writeFile(dir / "moved.json",
              R"({"streams": [{"index": -1, "sink": "A"}, {"index": 4, "sink": "B"}]})");
    EXPECT_EQ(file.load(), (audio::MovedStreamsFile::Streams{{4, "B"}}));
    // (Removed at the stop: see expectNothingLeft.)
}
