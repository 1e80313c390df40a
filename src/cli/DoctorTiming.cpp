// The doctor's test transcription: five seconds of Portuguese speech from espeak-ng, in the
// recorder's format, sent as a dictation is sent, to a warm server.

#include "cli/DoctorTiming.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "cli/DoctorSpeech.h"
#include "engine/TranscriptionEngine.h"
#include "platform/WavHeader.h"

namespace quenda::doctor {

namespace {

constexpr uint32_t kRate = 16000;
constexpr double kClipSeconds = 5.0;
// Above this wait per 5-second dictation, the doctor names a quicker model.
constexpr double kLongWaitSeconds = 3.0;
// How much quicker the base model is than large-v3-turbo on a CPU (measured on 2 cores:
// about 24 s against 1.5 s for a 5-second clip).
constexpr double kBaseSpeedup = 15.0;

// Five seconds at 16 kHz: the speech resampled (linear), cut or padded with silence; a quiet
// tone when there is no speech synthesiser.
std::string testClip() {
    auto [speech, rate] = speakPortuguese(
        "Bom dia. Este é um teste curto do ditado, com algumas frases em português do Brasil, "
        "para medir quanto tempo a transcrição leva neste computador.");
    const size_t frames = static_cast<size_t>(kClipSeconds * kRate);
    std::vector<int16_t> clip(frames, 0);
    for (size_t i = 0; i < frames; ++i) {
        if (speech.empty()) {
            clip[i] = static_cast<int16_t>(
                3000 * std::sin(2 * M_PI * 220.0 * static_cast<double>(i) / kRate));
            continue;
        }
        const double position = static_cast<double>(i) * rate / kRate;
        const auto index = static_cast<size_t>(position);
        if (index + 1 >= speech.size())
            break;
        const double fraction = position - static_cast<double>(index);
        clip[i] =
            static_cast<int16_t>(speech[index] * (1 - fraction) + speech[index + 1] * fraction);
    }
    const auto bytes = static_cast<uint32_t>(clip.size() * sizeof(int16_t));
    const auto header = makeWavHeader(kRate, 1, bytes);
    std::string wav(header.begin(), header.end());
    wav.append(reinterpret_cast<const char*>(clip.data()), bytes);
    return wav;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    std::string result = text;
    for (char& c : result) {
        if (c == '.')
            c = ',';
    }
    return result;
}

}  // namespace

std::string timeTestDictation(const std::string& modelID) {
    using Clock = std::chrono::steady_clock;
    const std::string clip = testClip();
    TranscriptionEngine engine;
    const auto start = Clock::now();
    engine.ensureServer(modelID);
    const auto loaded = Clock::now();
    // The first request after a start also pays for one-time work (and, on a busy machine, for
    // the server's threads finding their cores): the second one is what a dictation waits.
    engine.transcribeWavData(clip, modelID, "pt");
    const auto warmed = Clock::now();
    engine.transcribeWavData(clip, modelID, "pt");
    const auto answered = Clock::now();
    engine.stopServer();

    auto secondsBetween = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    };
    const double wait = secondsBetween(warmed, answered);
    std::string lines = "Espera por ditado de 5 s nesta máquina: " + seconds(wait) + " (modelo " +
                        modelID + "; ao iniciar, carregar o modelo levou " +
                        seconds(secondsBetween(start, loaded)) + " e o primeiro ditado " +
                        seconds(secondsBetween(loaded, warmed)) + ")\n";
    if (wait > kLongWaitSeconds) {
        if (modelID != "base")
            lines += "É uma espera longa: o modelo base (148 MB) seria rápido aqui (cerca de " +
                     seconds(wait / kBaseSpeedup) +
                     "); escolha \"Básico\" no aplicativo ou use --model base\n";
        else
            lines +=
                "É uma espera longa mesmo com o menor modelo: o processador está ocupado "
                "ou é lento para transcrever localmente\n";
    }
    return lines;
}

}  // namespace quenda::doctor
