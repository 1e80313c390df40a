#include "audio/SystemAudioCapture.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include "AudioTestSupport.h"
#include "TestAudio.h"
#include "audio/OwnPlayback.h"
#include "audio/ProcessTapCapturePulse.h"
#include "audio/PulsePlayback.h"
#include "audio/Recorder.h"
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

static PlatformError failureOf(const std::function<void()>& start) {
    try {
        start();
    } catch (const PlatformError& error) {
        return error;
    }
    throw std::runtime_error("started without a sound server");
}

TEST(AudioCapture, WithoutASoundServerEachSourceFailsClearlyAndStopStaysHarmless) {
    TempDir dir;
    auto recorder = audio::Recorder::create();
    auto system = audio::SystemAudioCapture::create();
    audio::ProcessTapCapturePulse tap(dir / "moved.json");
    system->stop();  // never started
    tap.stop();
    {
        ScopedEnv server("PULSE_SERVER", "unix:" + (dir / "no-such-server").string());
        bool granted = false;
        recorder->requestPermission([&](bool answer) { granted = answer; });
        EXPECT_TRUE(granted);  // there is no microphone permission to ask for
        const auto microphone = failureOf([&] { recorder->start(); });
        EXPECT_EQ(microphone.domain(), "Recorder");
        EXPECT_EQ(microphone.code(), 1);
        EXPECT_EQ(microphone.description(), "Microfone indisponível");
        const auto output = failureOf([&] { system->start(); });
        EXPECT_EQ(output.domain(), "SystemAudioCapture");
        EXPECT_EQ(output.description(), "Servidor de som indisponível");
        const auto step = failureOf([&] { tap.start(true); });
        EXPECT_EQ(step.domain(), "ProcessTapCapture");
        EXPECT_NE(step.code(), 0);
        EXPECT_EQ(step.description(),
                  "conectar ao servidor de som falhou (" + std::to_string(step.code()) + ")");
    }
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->outputURL());
    EXPECT_FALSE(recorder->stop());
    for (int i = 0; i < 2; ++i) {
        system->stop();
        tap.stop();
    }
    // A failed start leaves nothing behind: the next one works.
    SampleCollector collected;
    system->onSamples = collected.sink();
    system->start();
    EXPECT_TRUE(collected.waitForSize(kRate / 10));
    system->stop();
}
