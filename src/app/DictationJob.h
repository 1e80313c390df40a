#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "platform/TemporaryFile.h"

namespace quenda {

// What a transcription job works on: a recording of ours, which the job owns (the file is
// removed once the last copy of this value is gone), or a file the user chose, which is only
// read.
struct DictationInput {
    std::filesystem::path file;
    std::shared_ptr<const TemporaryFile> recording;

    static DictationInput ownedRecording(const std::filesystem::path& file);
    static DictationInput chosenFile(const std::filesystem::path& file);
    bool isRecording() const { return recording != nullptr; }
};

// The settings a job takes when it is accepted; changing them later does not affect it.
struct DictationSettings {
    std::string modelID;
    bool cleanWithLLM = false;
    // The speech model's window sized to the audio (see TranscriptionOptions::fast).
    bool fastMode = false;
};

// How a job ended.
struct DictationOutcome {
    enum class Kind { text, nothingHeard, failed };
    Kind kind = Kind::failed;
    // The final text (kind text), or the failure's description (kind failed).
    std::string text;
};

// Progress reports of a running job, called on the job's thread.
struct DictationProgress {
    std::function<void()> cleaningStarted;
    std::function<void(const std::string& description)> cleaningFailed;
};

// The background half of a transcription: a recording that is never louder than the live
// translator's silence gate is not sent at all; our own recordings (already in the engine's
// format) go to the server as they are, other files through the converter; a transcript that
// is only a subtitle credit counts as nothing heard; the clean-up, when asked for, falls back
// to the raw transcript when it fails or answers nothing. Blocks; never call it on the main
// thread.
DictationOutcome runDictationJob(const DictationInput& input, const DictationSettings& settings,
                                 TranscriptionEngine& engine, const LanguageModelCall& generate,
                                 const DictationProgress& progress);

}  // namespace quenda
