// The espeak-ng synthesiser with a stand-in player: real synthesis, observed playback.

#include "live/SpeechSynthesizerEspeak.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/TestSupport.h"

using namespace quenda::live;
using quenda::test::waitUntil;

namespace {

// What the player was given and how its plays ended; outlives the player.
struct PlayerLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::size_t> sizes;
    std::vector<uint32_t> rates;
    int playing = 0;
    int mostAtOnce = 0;
    int cancelledPlays = 0;
    bool cancelled = false;
    // Settings
    bool holdUntilCancelled = false;
    // Like a player that clears an earlier cancel only once it has begun.
    bool clearsCancelLate = false;
    std::optional<std::string> failure;

    std::size_t entered() {
        std::lock_guard lock(mutex);
        return sizes.size();
    }
};

struct FakePlayer : SoundPlayer {
    explicit FakePlayer(std::shared_ptr<PlayerLog> playerLog) : log(std::move(playerLog)) {}

    void play(const std::vector<float>& samples, uint32_t sampleRate) override {
        std::unique_lock lock(log->mutex);
        log->sizes.push_back(samples.size());
        log->rates.push_back(sampleRate);
        log->mostAtOnce = std::max(log->mostAtOnce, ++log->playing);
        if (log->clearsCancelLate) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            lock.lock();
        }
        log->cancelled = false;
        if (log->failure) {
            --log->playing;
            throw std::runtime_error(*log->failure);
        }
        if (log->holdUntilCancelled) {
            log->changed.wait_for(lock, std::chrono::seconds(5), [&] { return log->cancelled; });
            log->cancelledPlays += log->cancelled ? 1 : 0;
        } else {
            // About a hundredth of the sound's real length.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(samples.size() / 22));
            lock.lock();
        }
        --log->playing;
    }

    void cancel() override {
        std::lock_guard lock(log->mutex);
        log->cancelled = true;
        log->changed.notify_all();
    }

    std::shared_ptr<PlayerLog> log;
};

class SpeechSynthesizerEspeakTest : public ::testing::Test {
  protected:
    void SetUp() override {
        synthesizer = std::make_unique<SpeechSynthesizerEspeak>(std::make_unique<FakePlayer>(log));
        synthesizer->onError = [this](const std::string& text) {
            std::lock_guard lock(errorsMutex);
            errors.push_back(text);
        };
    }

    std::shared_ptr<PlayerLog> log = std::make_shared<PlayerLog>();
    std::mutex errorsMutex;
    std::vector<std::string> errors;
    std::unique_ptr<SpeechSynthesizerEspeak> synthesizer;
};

TEST_F(SpeechSynthesizerEspeakTest, SpeaksQueuedUtterancesOneAfterAnotherInOrder) {
    synthesizer->speak("Sim.");
    synthesizer->speak("Esta é uma frase bem mais longa, com várias palavras em português.");
    synthesizer->speak("Não.");
    ASSERT_TRUE(waitUntil([&] { return log->entered() == 3; }));
    synthesizer.reset();
    std::lock_guard lock(log->mutex);
    EXPECT_EQ(log->mostAtOnce, 1);
    for (auto rate : log->rates)
        EXPECT_EQ(rate, 22050u);
    // At a brisk pace: the long sentence lasts several seconds, the short words well under one.
    EXPECT_GT(log->sizes[1], 3 * log->sizes[0]);
    EXPECT_GT(log->sizes[1], 22050u * 3);
    EXPECT_LT(log->sizes[0], 22050u);
    EXPECT_GT(log->sizes[2], 22050u / 10);
}

TEST_F(SpeechSynthesizerEspeakTest, StopSilencesAtOnceAndDropsTheQueue) {
    // Also with a player that only clears an earlier cancel once it has begun: the stop must
    // reach it all the same.
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "player clears a cancel late" : "plain player");
        log = std::make_shared<PlayerLog>();
        log->holdUntilCancelled = true;
        log->clearsCancelLate = late;
        SetUp();
        synthesizer->speak("Primeira frase.");
        synthesizer->speak("Segunda frase.");
        ASSERT_TRUE(waitUntil([&] { return log->entered() == 1; }));
        const auto before = std::chrono::steady_clock::now();
        synthesizer->stopSpeaking();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        {
            std::lock_guard lock(log->mutex);
            EXPECT_EQ(log->playing, 0);  // quiet when stopSpeaking returns
            EXPECT_EQ(log->cancelledPlays, 1);
            log->holdUntilCancelled = false;
        }
        // Speaking works again; what was queued before the stop is gone.
        synthesizer->speak("De novo.");
        ASSERT_TRUE(waitUntil([&] { return log->entered() == 2; }));
        synthesizer.reset();
        EXPECT_EQ(log->entered(), 2u);
    }
}

TEST_F(SpeechSynthesizerEspeakTest, ReportsWhyItCouldNotPlay) {
    log->failure = "servidor de som indisponível";
    synthesizer->speak("Olá.");
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(errorsMutex);
        return !errors.empty();
    }));
    std::lock_guard lock(errorsMutex);
    EXPECT_EQ(errors.front(), "servidor de som indisponível");
}

}  // namespace
