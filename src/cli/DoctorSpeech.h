#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quenda::doctor {

// espeak-ng in this process, initialised once and kept for the process's life (the library
// cannot be terminated and initialised again).

// True when espeak-ng works and has the Brazilian Portuguese voice.
bool portugueseVoiceAvailable();

struct Speech {
    std::vector<int16_t> samples;  // mono
    int sampleRate = 0;
};
// `text` spoken in Brazilian Portuguese; no samples when espeak-ng or the voice is missing.
Speech speakPortuguese(const std::string& text);

}  // namespace quenda::doctor
