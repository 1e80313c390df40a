#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "live/SoundPlayer.h"
#include "live/SpeechSynthesizer.h"
#include "platform/DispatchQueue.h"

namespace quenda::live {

// Speaks Brazilian Portuguese with the espeak-ng library, in this process, and plays the
// sound through `player`. Utterances are synthesised and played one after another on the
// serial queue "speech-synthesizer".
class SpeechSynthesizerEspeak : public SpeechSynthesizer {
  public:
    static constexpr const char* voiceName = "pt-br";
    // Words per minute: a little faster than espeak-ng's default of 175.
    static constexpr int wordsPerMinute = 196;

    explicit SpeechSynthesizerEspeak(std::unique_ptr<SoundPlayer> player);
    ~SpeechSynthesizerEspeak() override;

    void speak(std::string text) override;
    void stopSpeaking() override;

  private:
    struct Sound {
        std::vector<float> samples;
        uint32_t sampleRate = 0;
    };
    // The utterance as mono samples and their rate. Throws when espeak-ng cannot be used.
    // Stops early once `generation` is no longer current.
    Sound synthesize(const std::string& text, uint64_t generation);
    void say(const std::string& text, uint64_t generation);  // on queue_

    std::unique_ptr<SoundPlayer> player_;
    // Raised by stopSpeaking(): utterances of an older generation are dropped.
    std::atomic<uint64_t> generation_{0};

    std::mutex mutex_;
    std::condition_variable playDone_;
    bool playing_ = false;  // the player's play() runs

    // Last: destroyed first, while the player still exists.
    DispatchQueue queue_{"speech-synthesizer"};
};

}  // namespace quenda::live
