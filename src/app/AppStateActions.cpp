// The window's actions on the state: choose a file to transcribe, summarise and copy the last
// text, download the selected model.

#include "app/AppState.h"
#include "l10n/L10n.h"
#include "llm/Prompts.h"

namespace quenda {

std::vector<std::string_view> AppState::audioFileExtensions() {
    std::vector<std::string_view> extensions(TranscriptionEngine::nativeExtensions.begin(),
                                             TranscriptionEngine::nativeExtensions.end());
    extensions.insert(extensions.end(), TranscriptionEngine::ffmpegExtensions.begin(),
                      TranscriptionEngine::ffmpegExtensions.end());
    return extensions;
}

void AppState::chooseAndTranscribeFile() {
    if (!services_.openFileDialog)
        return;
    // Keep the state alive across the dialog's own event loop, which runs everything else.
    const auto self = shared_from_this();
    const auto extensions = audioFileExtensions();
    if (const auto file = services_.openFileDialog->chooseAudioFile(extensions))
        runPipeline(*file, false);
}

void AppState::summarizeLast() {
    if (lastTranscription_.empty()) {
        setStatusKey("status.nothing.summarize");
        return;
    }
    if (isBusy_)
        return;
    setBusy(true);
    setStatusKey("status.summarizing");
    services_.runJob(
        [text = lastTranscription_, generate = services_.generate, post = mainQueuePoster()] {
            try {
                auto summary = generate(Prompts::summary, text, kLanguageModelTimeout);
                post([summary = std::move(summary)](AppState& self) {
                    self.summary_ = summary;
                    self.changed(Property::summary);
                    self.services_.pasteboard->setString(summary);
                    self.setStatusKey("status.summary.done");
                    self.endJob();
                });
            } catch (const std::exception& error) {
                post([description = std::string(error.what())](AppState& self) {
                    self.setStatus("Erro no resumo: " + description);
                    self.endJob();
                });
            }
        });
}

void AppState::copyLast() {
    if (lastTranscription_.empty()) {
        setStatusKey("status.nothing.copy");
        return;
    }
    services_.pasteboard->setString(lastTranscription_);
    setStatusKey("status.copied.again");
}

void AppState::downloadCurrentModel() {
    setStatusKey("status.model.downloading");
    downloader_->download(modelID_, [weak = weak_from_this()](bool succeeded) {
        auto self = weak.lock();
        if (!self)
            return;
        // The model selected now: the user may have picked another one meanwhile.
        self->setModelInstalled(TranscriptionEngine::isModelInstalled(self->modelID_));
        if (succeeded)
            self->setStatusKey("status.model.done");
        else
            self->setStatus("Erro: " + self->downloader_->error().value_or("download"));
    });
}

void AppState::cancelDownload() {
    downloader_->cancel();
}

}  // namespace quenda
