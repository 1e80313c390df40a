#include "audio/SystemAudioCapture.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include "AudioTestSupport.h"
#include "TestAudio.h"
#include "audio/OwnPlayback.h"
#include "audio/PulsePlayback.h"
#include "platform/PlatformError.h"

using namespace quenda;
using namespace quenda::test;

TEST(SystemAudioCapture, DeliversWhatAnotherApplicationPlaysAt16kHzMono) {
    TempDir dir;
    makeTone(dir / "tone.wav", 2.0);  // 44.1 kHz stereo
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    auto player = startPaplay(dir / "tone.wav");
    ASSERT_TRUE(collected.waitForSound());
    const std::size_t loudFrom = collected.size();
    ASSERT_TRUE(collected.waitForSize(loudFrom + kRate / 2));
    capture->stop();

    const auto samples = collected.samples();
    const std::vector<float> window(samples.begin() + long(loudFrom),
                                    samples.begin() + long(loudFrom + kRate / 2));
    // A 440 Hz tone counted at 16 000 samples a second: the rate and the mix-down are right.
    EXPECT_NEAR(toneFrequency(window), 440, 10);
    EXPECT_NEAR(rms(window), 0.5 / std::sqrt(2.0), 0.05);
    EXPECT_EQ(collected.threadCount(), 1u);  // one serial delivery queue
    // Nothing is delivered once stop() has returned.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(collected.size(), samples.size());
    player->kill();
}

TEST(SystemAudioCapture, OurOwnPlaybackIsReplacedBySilenceWhileItLasts) {
    TempDir dir;
    makeTone(dir / "tone.wav", 3.0);
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    ASSERT_TRUE(collected.waitForSize(kRate / 10));
    const std::size_t before = collected.size();

    MonitorListener speakers;
    std::this_thread::sleep_for(300ms);
    audio::PulsePlayback("Tradução falada").play(sineTone(1.0), 22050);
    const auto heard = speakers.finish();
    std::this_thread::sleep_for(300ms);
    // The tone did reach the output (another program heard it), but the capture, which kept
    // delivering all along, heard nothing of it...
    EXPECT_GT(peak(heard), 0.3);
    EXPECT_GT(collected.size() - before, kRate);
    EXPECT_LT(peak(collected.samples(), before), 0.01);
    // ...and hears other sound again once our playback has ended.
    auto player = startPaplay(dir / "tone.wav");
    EXPECT_TRUE(collected.waitForSound());
    capture->stop();
    player->kill();
}

TEST(SystemAudioCapture, CancellingOurPlaybackEndsItAndItsSilencingSoon) {
    audio::PulsePlayback voice("Tradução falada");
    const auto began = std::chrono::steady_clock::now();
    std::thread speaker([&] { voice.play(sineTone(10.0), 22050); });
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(audio::ownPlaybackAudible());
    voice.cancel();
    speaker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
    EXPECT_TRUE(waitUntil([] { return !audio::ownPlaybackAudible(); }, 2s));
}

TEST(SystemAudioCapture, ReportsAStreamThatTheServerEndsOnItsDeliveryQueue) {
    auto capture = audio::SystemAudioCapture::create();
    std::mutex mutex;
    std::vector<std::string> errors;
    capture->onError = [&](const std::string& text) {
        char thread[16] = {};
        pthread_getname_np(pthread_self(), thread, sizeof thread);
        std::lock_guard lock(mutex);
        errors.push_back(std::string(thread) + ": " + text);
        capture->stop();  // what the live translator does: stop from inside the callback
    };
    capture->start();
    std::this_thread::sleep_for(300ms);
    killOwnSourceOutput();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return !errors.empty();
    }));
    capture->stop();
    std::lock_guard lock(mutex);
    // Once, on the delivery queue (its name cut to 15 bytes), with a reason.
    EXPECT_EQ(errors, std::vector<std::string>{"system-audio-ca: o servidor de som interrompeu a "
                                               "captura do áudio do sistema"});
}

TEST(SystemAudioCapture, FailsClearlyWithoutASoundServerAndStopIsAlwaysHarmless) {
    auto capture = audio::SystemAudioCapture::create();
    capture->stop();
    {
        TempDir dir;
        ScopedEnv server("PULSE_SERVER", "unix:" + (dir / "no-such-server").string());
        try {
            capture->start();
            FAIL() << "start succeeded without a sound server";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.domain(), "SystemAudioCapture");
            EXPECT_EQ(error.description(), "Servidor de som indisponível");
        }
    }
    capture->stop();
    capture->stop();
    // A failed start leaves nothing behind: the next one works.
    SampleCollector collected;
    capture->onSamples = collected.sink();
    capture->start();
    EXPECT_TRUE(collected.waitForSize(kRate / 10));
    capture->stop();
}
