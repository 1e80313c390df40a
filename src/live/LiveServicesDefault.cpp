#include "live/LiveServicesDefault.h"

#include "l10n/L10n.h"
#include "live/CaptureSourceProcessTap.h"
#include "live/CaptureSourceSystemAudio.h"
#include "live/SoundPlayerPulse.h"
#include "live/SpeechEngineWhisper.h"
#include "live/SpeechSynthesizerEspeak.h"
#include "live/TranslationModelOllama.h"

namespace quenda::live {

LiveServices defaultLiveServices(std::shared_ptr<TranscriptionEngine> engine) {
    LiveServices services;
    services.engine = std::make_shared<SpeechEngineWhisper>(std::move(engine));
    services.model = std::make_shared<TranslationModelOllama>();
    services.monitorCapture =
        std::make_unique<CaptureSourceSystemAudio>(audio::SystemAudioCapture::create());
    services.makeTapCapture = [](bool muteOriginal) -> std::unique_ptr<CaptureSource> {
        return std::make_unique<CaptureSourceProcessTap>(audio::ProcessTapCapture::create(),
                                                         muteOriginal);
    };
    services.synthesizer =
        std::make_unique<SpeechSynthesizerEspeak>(std::make_unique<SoundPlayerPulse>());
    services.statusText = [](std::string_view key) { return L10n::t(key); };
    return services;
}

}  // namespace quenda::live
