#include "app/DictationJob.h"

#include <cstring>
#include <exception>
#include <vector>

#include "app/SubtitleCredits.h"
#include "live/LiveTranslator.h"
#include "llm/Prompts.h"
#include "platform/Files.h"
#include "platform/WavFormat.h"

namespace quenda {

namespace {

constexpr const char* kLanguage = "pt";
// Loudness is judged over tenths of a second: a word is longer than that, a click is not.
constexpr std::size_t kLoudnessWindow = 1600;

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readBytes(const std::filesystem::path& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return std::nullopt;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::nullopt;
    std::string bytes(size, '\0');
    const bool complete = std::fread(bytes.data(), 1, size, file) == size;
    std::fclose(file);
    return complete ? std::optional(std::move(bytes)) : std::nullopt;
}

// True when some tenth of a second of the samples is louder than the live translator's
// silence gate.
bool hasSound(std::string_view samples) {
    std::vector<float> window;
    window.reserve(kLoudnessWindow);
    const std::size_t count = samples.size() / 2;
    for (std::size_t start = 0; start < count; start += kLoudnessWindow) {
        window.clear();
        for (std::size_t i = start; i < std::min(count, start + kLoudnessWindow); ++i) {
            int16_t sample;
            std::memcpy(&sample, samples.data() + 2 * i, 2);
            window.push_back(static_cast<float>(sample) / 32768.0f);
        }
        if (live::LiveTranslator::isAudible(window))
            return true;
    }
    return false;
}

// The transcript of the input, or nothing when a recording of ours holds no sound.
std::optional<std::string> transcribe(const DictationInput& input, const std::string& modelID,
                                      bool fast, TranscriptionEngine& engine) {
    if (input.isRecording()) {
        // Our recordings are already in the engine's format: they go to the server as they
        // are, without a conversion.
        if (const auto bytes = readBytes(input.file)) {
            const auto wav = parseWav(*bytes);
            if (wav && wav->isEngineFormat()) {
                if (!hasSound(std::string_view(*bytes).substr(wav->dataOffset, wav->dataBytes)))
                    return std::nullopt;
                return engine.transcribeWavData(*bytes, modelID, kLanguage, {fast, true});
            }
        }
    }
    // A chosen file's level is not measured here: the engine judges it by its length.
    return engine.transcribe(input.file, modelID, kLanguage, {fast, std::nullopt});
}

}  // namespace

DictationInput DictationInput::ownedRecording(const std::filesystem::path& file) {
    return {file, std::make_shared<const TemporaryFile>(file)};
}

DictationInput DictationInput::chosenFile(const std::filesystem::path& file) {
    return {file, nullptr};
}

DictationOutcome runDictationJob(const DictationInput& input, const DictationSettings& settings,
                                 TranscriptionEngine& engine, const LanguageModelCall& generate,
                                 const DictationProgress& progress) {
    using Kind = DictationOutcome::Kind;
    std::string transcript;
    try {
        auto text = transcribe(input, settings.modelID, settings.fastMode, engine);
        if (!text)
            return {Kind::nothingHeard, {}};
        transcript = std::move(*text);
    } catch (const std::exception& error) {
        return {Kind::failed, error.what()};
    }
    if (transcript.empty() || isOnlySubtitleCredit(transcript))
        return {Kind::nothingHeard, {}};
    if (!settings.cleanWithLLM)
        return {Kind::text, std::move(transcript)};

    if (progress.cleaningStarted)
        progress.cleaningStarted();
    try {
        auto cleaned = generate(Prompts::cleanup, transcript, kLanguageModelTimeout);
        // A model that answers nothing has not cleaned anything: keep what was said.
        return {Kind::text, cleaned.empty() ? std::move(transcript) : std::move(cleaned)};
    } catch (const std::exception& error) {
        if (progress.cleaningFailed)
            progress.cleaningFailed(error.what());
        return {Kind::text, std::move(transcript)};
    }
}

}  // namespace quenda
