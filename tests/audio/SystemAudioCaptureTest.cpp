#include "AudioTestSupport.h"
#include "audio/OwnPlayback.h"
#include "audio/PulsePlayback.h"
#include "audio/SystemAudioCapture.h"
#include "platform/PlatformError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>
#include <sstream>

using namespace quenda;
using namespace quenda::test;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kRate = 16000;

// The index of the record stream this process opened under `name`, as the server lists it.
std::optional<uint32_t> ownSourceOutput(const std::string& name) {
    std::istringstream lines(pactl({"list", "source-outputs"}));
    std::string line;
    std::optional<uint32_t> current, found;
    bool ours = false, named = false;
    auto endOfEntry = [&] {
        if (current && ours && named)
            found = current;
    };
    while (std::getline(lines, line)) {
        if (line.rfind("Source Output #", 0) == 0) {
            endOfEntry();
            current = static_cast<uint32_t>(std::stoul(line.substr(15)));
            ours = named = false;
        }
        ours = ours || line.find("application.process.id = \"" + std::to_string(::getpid()) +
                                 "\"") != std::string::npos;
        named = named || line.find("media.name = \"" + name + "\"") != std::string::npos;
    }
    endOfEntry();
    return found;
}

std::string currentThreadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

}  // namespace

TEST(SystemAudioCapture, DeliversWhatAnotherApplicationPlaysAt16kHzMono) {
    TempDir dir;
    writeToneWav(dir / "tone.wav", 440, 2.0);
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    auto player = startPaplay(dir / "tone.wav");
    ASSERT_TRUE(collected.waitForSound(0.2, kRate / 2, 5s));
    const std::size_t loudFrom = collected.size();
    ASSERT_TRUE(collected.waitForSize(loudFrom + kRate / 2, 5s));
    capture->stop();

    const auto samples = collected.samples();
    const std::vector<float> window(samples.begin() + long(loudFrom),
                                    samples.begin() + long(loudFrom + kRate / 2));
    // A 440 Hz tone counted at 16 000 samples a second: the rate and the mix-down are right.
    EXPECT_NEAR(toneFrequency(window, kRate), 440, 10);
    EXPECT_NEAR(rms(window), 0.5 / std::sqrt(2.0), 0.05);
    EXPECT_EQ(collected.threadCount(), 1u);  // one serial delivery queue

    // Nothing is delivered once stop() has returned.
    const std::size_t atStop = collected.size();
    sleepFor(200ms);
    EXPECT_EQ(collected.size(), atStop);
    player->kill();
}

TEST(SystemAudioCapture, OurOwnPlaybackIsReplacedBySilence) {
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    ASSERT_TRUE(collected.waitForSize(kRate / 10, 5s));
    const std::size_t before = collected.size();

    MonitorListener speakers;
    sleepFor(300ms);
    audio::PulsePlayback voice("Tradução falada");
    voice.play(sineTone(440, 1.0, 22050), 22050);
    const auto heard = speakers.finish();
    sleepFor(300ms);
    capture->stop();

    // The tone did reach the output (another program heard it)...
    EXPECT_GT(peak(heard), 0.3);
    // ...but the capture, which kept delivering all along, heard nothing of it.
    const auto samples = collected.samples();
    EXPECT_GT(samples.size() - before, kRate);
    EXPECT_LT(peak(samples, before), 0.01);
}

TEST(SystemAudioCapture, OtherSoundIsHeardAgainAfterOurPlaybackEnds) {
    TempDir dir;
    writeToneWav(dir / "tone.wav", 660, 3.0);
    SampleCollector collected;
    auto capture = audio::SystemAudioCapture::create();
    capture->onSamples = collected.sink();
    capture->start();
    auto player = startPaplay(dir / "tone.wav");
    ASSERT_TRUE(collected.waitForSound(0.2, kRate / 4, 5s));

    audio::PulsePlayback voice("Tradução falada");
    voice.play(sineTone(440, 0.5, 22050, 0.2), 22050);
    const std::size_t afterVoice = collected.size();
    // Silence while we spoke, then the other application's tone again.
    EXPECT_TRUE(collected.waitForSound(0.2, kRate / 4, 5s));
    capture->stop();
    player->kill();
    const auto samples = collected.samples();
    EXPECT_LT(rms(samples, afterVoice - kRate / 4, kRate / 4), 0.01);
}

TEST(SystemAudioCapture, CancellingOurPlaybackEndsItAndItsSilencingSoon) {
    audio::PulsePlayback voice("Tradução falada");
    const auto began = std::chrono::steady_clock::now();
    std::thread speaker([&] { voice.play(sineTone(440, 10.0, 22050), 22050); });
    sleepFor(500ms);
    EXPECT_TRUE(audio::ownPlaybackAudible());
    voice.cancel();
    speaker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
    EXPECT_TRUE(waitUntil([] { return !audio::ownPlaybackAudible(); }, 2s));
}

TEST(SystemAudioCapture, ReportsAStreamThatTheServerEnds) {
    auto capture = audio::SystemAudioCapture::create();
    std::mutex mutex;
    std::vector<std::string> errors;
    std::string errorThread;
    capture->onError = [&](const std::string& text) {
        std::lock_guard lock(mutex);
        errors.push_back(text);
        errorThread = currentThreadName();
        capture->stop();  // what the live translator does: stop from inside the callback
    };
    capture->start();
    sleepFor(300ms);
    const auto index = ownSourceOutput("Áudio do sistema");
    ASSERT_TRUE(index);
    killSourceOutput(*index);
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(mutex);
        return !errors.empty();
    }));
    capture->stop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(errors.front().empty());
    EXPECT_EQ(errorThread, "system-audio-ca");  // the delivery queue (name cut to 15)
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
    EXPECT_TRUE(collected.waitForSize(kRate / 10, 5s));
    capture->stop();
}
