#pragma once

#include <string>
#include <string_view>

namespace quenda::live {

// The speech-to-text side the live translator needs: a server made ready for a model, and one
// blocking transcription of a complete WAV file held in memory. Failures are thrown as
// exceptions whose what() is the text shown to the user.
class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    virtual void ensureServer(const std::string& modelID) = 0;
    virtual std::string transcribe(std::string_view wavData, const std::string& modelID,
                                   const std::string& language) = 0;
};

}  // namespace quenda::live
