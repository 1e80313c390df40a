#include "live/SpeechSynthesizerEspeak.h"

#include <chrono>
#include <stdexcept>

#include <espeak-ng/speak_lib.h>

namespace quenda::live {

namespace {

// espeak-ng keeps one global state per process: every call into it runs on this one queue.
DispatchQueue& espeakQueue() {
    static DispatchQueue queue("espeak-ng");
    return queue;
}

// Where the synthesis callback puts the samples of the utterance being synthesised.
struct SynthesisTarget {
    std::vector<float>* samples;
    const std::atomic<uint64_t>* generation;
    uint64_t wanted;
};

int collectSamples(short* wav, int count, espeak_EVENT* events) {
    auto* target = events ? static_cast<SynthesisTarget*>(events->user_data) : nullptr;
    if (!target)
        return 0;
    if (target->generation->load() != target->wanted)
        return 1;  // stopped: abandon the rest of this utterance
    for (int i = 0; wav && i < count; ++i)
        target->samples->push_back(static_cast<float>(wav[i]) / 32768.0f);
    return 0;
}

// The sample rate of the synthesised sound; initialises the library on first use.
// Runs on espeakQueue().
uint32_t initialisedRate() {
    static const int rate = [] {
        const int result =
            espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (result <= 0)
            return 0;
        espeak_SetSynthCallback(collectSamples);
        // Without the Brazilian voice the library's default voice speaks.
        espeak_SetVoiceByName(SpeechSynthesizerEspeak::voiceName);
        espeak_SetParameter(espeakRATE, SpeechSynthesizerEspeak::wordsPerMinute, 0);
        return result;
    }();
    if (rate <= 0)
        throw std::runtime_error("a voz em português não está disponível (espeak-ng não iniciou)");
    return static_cast<uint32_t>(rate);
}

}  // namespace

SpeechSynthesizerEspeak::SpeechSynthesizerEspeak(std::unique_ptr<SoundPlayer> player)
    : player_(std::move(player)) {}

SpeechSynthesizerEspeak::~SpeechSynthesizerEspeak() {
    stopSpeaking();
}

void SpeechSynthesizerEspeak::speak(std::string text) {
    queue_.async(
        [this, text = std::move(text), generation = generation_.load()] { say(text, generation); });
}

void SpeechSynthesizerEspeak::stopSpeaking() {
    std::unique_lock lock(mutex_);
    ++generation_;
    // A cancel that comes while play() is only beginning can be missed: repeat it until the
    // sound has stopped.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (playing_ && std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        player_->cancel();
        lock.lock();
        playDone_.wait_for(lock, std::chrono::milliseconds(10), [this] { return !playing_; });
    }
}

SpeechSynthesizerEspeak::Sound SpeechSynthesizerEspeak::synthesize(const std::string& text,
                                                                   uint64_t generation) {
    return espeakQueue().sync([&] {
        Sound sound;
        sound.sampleRate = initialisedRate();
        SynthesisTarget target{&sound.samples, &generation_, generation};
        const auto status = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                         espeakCHARS_UTF8, nullptr, &target);
        if (status != EE_OK)
            throw std::runtime_error("a voz em português não conseguiu sintetizar o texto");
        return sound;
    });
}

void SpeechSynthesizerEspeak::say(const std::string& text, uint64_t generation) {
    try {
        if (generation != generation_)
            return;
        const auto sound = synthesize(text, generation);
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_ || sound.samples.empty())
                return;
            playing_ = true;
        }
        std::exception_ptr failure;
        try {
            player_->play(sound.samples, sound.sampleRate);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            playing_ = false;
        }
        playDone_.notify_all();
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        if (onError)
            onError(error.what());
    }
}

}  // namespace quenda::live
