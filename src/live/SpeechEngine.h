#pragma once

#include <stop_token>
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
    // ensureServer that ends at once, throwing, when `abandon` is requested while the server
    // loads. By default the load is simply awaited.
    virtual void ensureServerUnlessAbandoned(const std::string& modelID,
                                             std::stop_token /*abandon*/) {
        ensureServer(modelID);
    }
    virtual std::string transcribe(std::string_view wavData, const std::string& modelID,
                                   const std::string& language) = 0;
};

}  // namespace quenda::live
