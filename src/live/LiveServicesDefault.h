#pragma once

#include <memory>

#include "engine/TranscriptionEngine.h"
#include "live/LiveServices.h"

namespace quenda::live {

// The live translator's real services on this platform: the shared speech engine, the local
// Ollama server with the translation prompt, the per-application capture tried first and the
// output monitor as the fallback (PulseAudio), espeak-ng speaking through our own playback
// stream, and the interface texts of L10n.
LiveServices defaultLiveServices(std::shared_ptr<TranscriptionEngine> engine);

}  // namespace quenda::live
