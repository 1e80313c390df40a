// The espeak-ng synthesiser with a stand-in player: real synthesis, observed playback.

#include "live/SpeechSynthesizerEspeak.h"

#include <gtest/gtest.h>

#include <condition_variable>

#include "support/TestSupport.h"

using namespace quenda::live;
using namespace std::chrono_literals;
using quenda::test::waitUntil;

namespace {

// What the player is given and how it is to play: for about a hundredth of the sound's length,
// or, with `hold`, until cancelled, and then it clears an earlier cancel only once it has
// begun. Shared by the player and the test, so that it outlives the synthesiser.
struct Playback {
    std::size_t entered() {
        std::lock_guard lock(mutex);
        return sizes.size();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::size_t> sizes;
    std::vector<uint32_t> rates;
    std::vector<std::string> errors;  // the synthesiser's reports
    int playing = 0, cancelledPlays = 0;
    bool cancelled = false, hold = false;
    std::optional<std::string> failure;
};

struct FakePlayer : SoundPlayer {
    explicit FakePlayer(std::shared_ptr<Playback> playback) : p(std::move(playback)) {}
    void play(const std::vector<float>& samples, uint32_t sampleRate) override {
        std::unique_lock lock(p->mutex);
        p->sizes.push_back(samples.size());
        p->rates.push_back(sampleRate);
        ++p->playing;
        if (p->hold)
            p->changed.wait_for(lock, 30ms, [] { return false; });
        p->cancelled = false;
        if (p->failure) {
            --p->playing;
            throw std::runtime_error(*p->failure);
        }
        p->changed.wait_for(lock, p->hold ? 5s : std::chrono::microseconds(samples.size() / 22),
                            [&] { return p->hold && p->cancelled; });
        p->cancelledPlays += p->cancelled;
        --p->playing;
    }
    void cancel() override {
        std::lock_guard lock(p->mutex);
        p->cancelled = true;
        p->changed.notify_all();
    }
    std::shared_ptr<Playback> p;
};

std::unique_ptr<SpeechSynthesizerEspeak> speakerFor(const std::shared_ptr<Playback>& player) {
    auto speaker = std::make_unique<SpeechSynthesizerEspeak>(std::make_unique<FakePlayer>(player));
    speaker->onError = [player](const std::string& text) {
        std::lock_guard lock(player->mutex);
        player->errors.push_back(text);
    };
    return speaker;
}

TEST(SpeechSynthesizerEspeak, SpeaksQueuedUtterancesOneAfterAnotherAtABriskPace) {
    auto player = std::make_shared<Playback>();
    auto speaker = speakerFor(player);
    speaker->speak("Sim.");
    speaker->speak("Esta é uma frase bem mais longa, com várias palavras em português.");
    speaker->speak("Não.");
    ASSERT_TRUE(waitUntil([&] { return player->entered() == 3; }));
    {
        std::lock_guard lock(player->mutex);
        player->failure = "servidor de som indisponível";  // reported, not thrown
    }
    speaker->speak("Olá.");
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(player->mutex);
        return !player->errors.empty();
    }));
    std::lock_guard lock(player->mutex);
    EXPECT_EQ(player->errors, std::vector<std::string>{"servidor de som indisponível"});
    EXPECT_EQ(player->rates, std::vector<uint32_t>(4, 22050));
    // The long sentence lasts several seconds, the short words well under one.
    EXPECT_GT(player->sizes[1], 22050u * 3);
    EXPECT_LT(player->sizes[0], 22050u);
    EXPECT_GT(player->sizes[2], 22050u / 10);
}

// The player clears a cancel that comes while it is only beginning: the stop must reach it all
// the same.
TEST(SpeechSynthesizerEspeak, StopSilencesAtOnceAndDropsTheQueue) {
    auto player = std::make_shared<Playback>();
    player->hold = true;
    auto speaker = speakerFor(player);
    speaker->speak("Primeira frase.");
    speaker->speak("Segunda frase.");
    ASSERT_TRUE(waitUntil([&] { return player->entered() == 1; }));
    speaker->stopSpeaking();
    {
        std::lock_guard lock(player->mutex);
        EXPECT_EQ(player->playing, 0);  // quiet when stopSpeaking returns
        EXPECT_EQ(player->cancelledPlays, 1);
        player->hold = false;
    }
    // Speaking works again; what was queued before the stop is gone.
    speaker->speak("De novo.");
    ASSERT_TRUE(waitUntil([&] { return player->entered() == 2; }));
    speaker.reset();
    EXPECT_EQ(player->entered(), 2u);
}

}  // namespace
