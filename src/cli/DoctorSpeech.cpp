#include "cli/DoctorSpeech.h"

#include <espeak-ng/speak_lib.h>

namespace quenda::doctor {

namespace {

constexpr const char* kVoice = "pt-br";

int collectSamples(short* samples, int count, espeak_EVENT* events) {
    auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
    if (samples && count > 0)
        out->insert(out->end(), samples, samples + count);
    return 0;
}

// The library's output rate, or 0 when it cannot be used.
int initialised() {
    static const int rate = [] {
        const int result = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        if (result > 0)
            espeak_SetSynthCallback(collectSamples);
        return result > 0 ? result : 0;
    }();
    return rate;
}

}  // namespace

bool portugueseVoiceAvailable() {
    return initialised() > 0 && espeak_SetVoiceByName(kVoice) == EE_OK;
}

Speech speakPortuguese(const std::string& text) {
    Speech speech;
    if (!portugueseVoiceAvailable())
        return speech;
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                 &speech.samples);
    speech.sampleRate = initialised();
    return speech;
}

}  // namespace quenda::doctor
