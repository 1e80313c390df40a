#pragma once

#include <memory>

#include "engine/TranscriptionEngine.h"
#include "live/SpeechEngine.h"

namespace quenda::live {

// The live translator's speech engine: the application's shared TranscriptionEngine.
class SpeechEngineWhisper : public SpeechEngine {
  public:
    explicit SpeechEngineWhisper(std::shared_ptr<TranscriptionEngine> engine)
        : engine_(std::move(engine)) {}

    void ensureServer(const std::string& modelID) override { engine_->ensureServer(modelID); }
    void ensureServerUnlessAbandoned(const std::string& modelID, std::stop_token abandon) override {
        engine_->ensureServer(modelID, std::move(abandon));
    }
    std::string transcribe(std::string_view wavData, const std::string& modelID,
                           const std::string& language) override {
        return engine_->transcribeWavData(wavData, modelID, language);
    }

  private:
    std::shared_ptr<TranscriptionEngine> engine_;
};

}  // namespace quenda::live
