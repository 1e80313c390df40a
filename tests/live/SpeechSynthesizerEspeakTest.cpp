// The espeak-ng synthesiser with a stand-in player: real synthesis, observed playback.

#include "live/SpeechSynthesizerEspeak.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "support/TestSupport.h"

using namespace quenda::live;
using namespace std::chrono_literals;
using quenda::test::waitUntil;

namespace {

// Records what it is given; plays for about a hundredth of the sound's length, or, with `hold`,
// until cancelled. With `clearsCancelLate` it clears an earlier cancel only once it has begun.
struct FakePlayer : SoundPlayer {
    void play(const std::vector<float>& samples, uint32_t sampleRate) override {
        std::unique_lock lock(mutex);
        sizes.push_back(samples.size());
        rates.push_back(sampleRate);
        mostAtOnce = std::max(mostAtOnce, ++playing);
        if (clearsCancelLate)
            changed.wait_for(lock, 30ms, [] { return false; });
        cancelled = false;
        if (failure) {
            --playing;
            throw std::runtime_error(*failure);
        }
        changed.wait_for(lock, hold ? 5s : std::chrono::microseconds(samples.size() / 22),
                         [&] { return hold && cancelled; });
        cancelledPlays += cancelled;
        --playing;
    }
    void cancel() override {
        std::lock_guard lock(mutex);
        cancelled = true;
        changed.notify_all();
    }
    std::size_t entered() {
        std::lock_guard lock(mutex);
        return sizes.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::size_t> sizes;
    std::vector<uint32_t> rates;
    int playing = 0, mostAtOnce = 0, cancelledPlays = 0;
    bool cancelled = false, hold = false, clearsCancelLate = false;
    std::optional<std::string> failure;
};

// The synthesiser under test with a player that outlives it.
struct Speaker {
    struct Forward : SoundPlayer {
        explicit Forward(FakePlayer& player) : to(player) {}
        void play(const std::vector<float>& samples, uint32_t rate) override {
            to.play(samples, rate);
        }
        void cancel() override { to.cancel(); }
        FakePlayer& to;
    };
    Speaker() {
        synthesizer->onError = [this](const std::string& text) {
            std::lock_guard lock(player.mutex);
            errors.push_back(text);
        };
    }
    FakePlayer player;
    std::vector<std::string> errors;
    std::unique_ptr<SpeechSynthesizerEspeak> synthesizer =
        std::make_unique<SpeechSynthesizerEspeak>(std::make_unique<Forward>(player));
};

TEST(SpeechSynthesizerEspeak, SpeaksQueuedUtterancesOneAfterAnotherAtABriskPace) {
    Speaker speaker;
    auto& player = speaker.player;
    speaker.synthesizer->speak("Sim.");
    speaker.synthesizer->speak(
        "Esta é uma frase bem mais longa, com várias palavras em português.");
    speaker.synthesizer->speak("Não.");
    ASSERT_TRUE(waitUntil([&] { return player.entered() == 3; }));
    {
        std::lock_guard lock(player.mutex);
        player.failure = "servidor de som indisponível";  // reported, not thrown
    }
    speaker.synthesizer->speak("Olá.");
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(player.mutex);
        return !speaker.errors.empty();
    }));
    std::lock_guard lock(player.mutex);
    EXPECT_EQ(speaker.errors, std::vector<std::string>{"servidor de som indisponível"});
    EXPECT_EQ(player.mostAtOnce, 1);
    EXPECT_EQ(player.rates, std::vector<uint32_t>(4, 22050));
    // The long sentence lasts several seconds, the short words well under one.
    EXPECT_GT(player.sizes[1], 22050u * 3);
    EXPECT_LT(player.sizes[0], 22050u);
    EXPECT_GT(player.sizes[2], 22050u / 10);
}

// Also with a player that clears an earlier cancel only once it has begun: the stop must reach
// it all the same.
TEST(SpeechSynthesizerEspeak, StopSilencesAtOnceAndDropsTheQueue) {
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "player clears a cancel late" : "plain player");
        Speaker speaker;
        auto& player = speaker.player;
        player.hold = true;
        player.clearsCancelLate = late;
        speaker.synthesizer->speak("Primeira frase.");
        speaker.synthesizer->speak("Segunda frase.");
        ASSERT_TRUE(waitUntil([&] { return player.entered() == 1; }));
        const auto before = std::chrono::steady_clock::now();
        speaker.synthesizer->stopSpeaking();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        {
            std::lock_guard lock(player.mutex);
            EXPECT_EQ(player.playing, 0);  // quiet when stopSpeaking returns
            EXPECT_EQ(player.cancelledPlays, 1);
            player.hold = false;
        }
        // Speaking works again; what was queued before the stop is gone.
        speaker.synthesizer->speak("De novo.");
        ASSERT_TRUE(waitUntil([&] { return player.entered() == 2; }));
        speaker.synthesizer.reset();
        EXPECT_EQ(player.entered(), 2u);
    }
}

}  // namespace
