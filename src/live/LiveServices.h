#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "live/CaptureSource.h"
#include "live/SpeechEngine.h"
#include "live/SpeechSynthesizer.h"
#include "live/TranslationModel.h"

namespace quenda::live {

// Everything the live translator works with, so that the real services and stand-ins in
// tests plug in alike. All are required except makeTapCapture.
struct LiveServices {
    std::shared_ptr<SpeechEngine> engine;
    std::shared_ptr<TranslationModel> model;
    // The fallback source: the monitor of the output, created once and reused by every run.
    std::unique_ptr<CaptureSource> monitorCapture;
    // Makes a new per-application capture for one run (it mutes what it captures when asked).
    // Empty when this platform has none; then the monitor capture is used at once.
    std::function<std::unique_ptr<CaptureSource>(bool muteOriginal)> makeTapCapture;
    std::unique_ptr<SpeechSynthesizer> synthesizer;
    // The localised text of a status key ("live.status.active") in the current UI language.
    std::function<std::string(std::string_view key)> statusText;
};

}  // namespace quenda::live
