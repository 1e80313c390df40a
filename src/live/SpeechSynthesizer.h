#pragma once

#include <functional>
#include <string>

namespace quenda::live {

// Speaks text aloud in Brazilian Portuguese. Utterances queue and are spoken one after another.
class SpeechSynthesizer {
  public:
    virtual ~SpeechSynthesizer() = default;

    // Reports why speech could not be produced (on the synthesiser's own thread).
    std::function<void(const std::string& description)> onError;

    // Queues `text` and returns at once.
    virtual void speak(std::string text) = 0;
    // Silences what is being spoken now and drops everything queued; returns once it is quiet.
    virtual void stopSpeaking() = 0;
};

}  // namespace quenda::live
