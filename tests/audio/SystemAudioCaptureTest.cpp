#include "audio/SystemAudioCapture.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <pulse/introspect.h>
#include <unistd.h>

#include <thread>

#include "AudioTestSupport.h"
#include "TestAudio.h"
#include "audio/OwnPlayback.h"
#include "audio/ProcessTapCapturePulse.h"
#include "audio/PulseConnection.h"
#include "audio/PulsePlayback.h"
#include "audio/Recorder.h"
#include "platform/PlatformError.h"

using namespace quenda;
using namespace quenda::test;

// Has the server end the record stream of this process, as it does when a device goes away.
static void killOwnSourceOutput() {
    for (const auto& output : pactlList("source-outputs", ::getpid())) {
        audio::PulseConnection connection("Quenda tests");
        audio::PulseConnection::Lock lock(connection);
        if (connection.await(pa_context_kill_source_output(
                connection.context(), output["index"].get<uint32_t>(),
                [](pa_context*, int, void* self) {
                    static_cast<audio::PulseConnection*>(self)->wakeWaiters();
                },
                &connection)))
            return;
    }
    throw std::runtime_error("could not end the record stream of this process");
}

// Our own playback is replaced by silence while it lasts; what another application plays then
// comes at the rate and level another program hears from the same monitor in the same format
// (the server's channel mixing decides the level: PipeWire mixes stereo down 3 dB louder).
TEST(SystemAudioCapture, DeliversOtherApplicationsAt16kHzMonoButNotOurOwnPlayback) {
    TempDir dir;
    makeTone(dir / "tone.wav", 30.0);  // 44.1 kHz stereo
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    expectOwnVoiceNotCaptured(collected, 0.01);
    auto player = startPaplay(dir / "tone.wav");
    MonitorListener ear;
    const auto window = collected.waitForSound();  // after our voice, which came as silence
    ASSERT_FALSE(window.empty());
    capture->stop();
    const std::size_t delivered = collected.size();
    const auto heard = ear.finish();

    // A 440 Hz tone counted at 16 000 samples a second: the rate and the mix-down are right.
    EXPECT_NEAR(toneFrequency(window), 440, 10);
    EXPECT_NEAR(rms(window) / rms(heard, heard.size() / 2), 1.0, 0.1);
    // Nothing is delivered once stop() has returned.
    EXPECT_FALSE(waitUntil([&] { return collected.size() != delivered; }, 200ms));

    // A cancelled playback ends soon, and so does the silencing.
    audio::PulsePlayback voice("Tradução falada");
    std::atomic<bool> done{false};
    std::jthread speaker([&] {  // joined at the end, at the latest when the ten seconds end
        voice.play(sineTone(10.0), 22050);
        done = true;
    });
    EXPECT_TRUE(waitUntil([] { return audio::ownPlaybackAudible(0ms); }, 5s));
    // A cancel that comes before play() has begun is not remembered: repeat it, as callers do.
    EXPECT_TRUE(waitUntil(
        [&] {
            voice.cancel();
            return done.load();
        },
        3s));
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

TEST(AudioCapture, WithoutASoundServerEachSourceFailsClearlyAndLeavesNothingBehind) {
    TempDir dir;
    auto recorder = audio::Recorder::create();
    auto system = audio::SystemAudioCapture::create();
    audio::ProcessTapCapturePulse tap(dir / "moved.json");
    {
        ScopedEnv server("PULSE_SERVER", "unix:" + (dir / "no-such-server").string());
        bool granted = false;
        recorder->requestPermission([&](bool answer) { granted = answer; });
        EXPECT_TRUE(granted);  // there is no microphone permission to ask for
        // (Callers show the description only.)
        EXPECT_EQ(thrown<PlatformError>([&] { recorder->start(); }).description(),
                  "Microfone indisponível");
        EXPECT_EQ(thrown<PlatformError>([&] { system->start(); }).description(),
                  "Servidor de som indisponível");
        const auto tapped = thrown<PlatformError>([&] { tap.start(true); });
        EXPECT_EQ(tapped.description(),
                  "conectar ao servidor de som falhou (" + std::to_string(tapped.code()) + ")");
    }
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->outputURL());
    system->stop();  // after a failed start, as on one never started: nothing to do
    tap.stop();
    // A failed start leaves nothing behind: the next one works.
    SampleCollector collected;
    system->onSamples = collected.sink();
    system->start();
    EXPECT_TRUE(collected.waitForSize(kRate / 10));
}
