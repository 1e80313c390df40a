// Push-to-talk and the transcription pipeline: record while the hotkey is held, transcribe in
// the background, clean up if asked, then store, copy and paste the text.

#include "app/AppState.h"
#include "input/Paster.h"
#include "l10n/L10n.h"

namespace quenda {

void AppState::beginPushToTalk() {
    if (isRecording_ || isBusy_)
        return;
    // The answer may come at once or later on the main queue; either way a consent starts the
    // recording then, without looking at the flags again.
    auto answeringNow = std::make_shared<bool>(true);
    services_.recorder->requestPermission(
        [weak = weak_from_this(), queue = services_.mainQueue, answeringNow](bool granted) {
            auto proceed = [weak, granted] {
                auto self = weak.lock();
                if (!self)
                    return;
                if (granted)
                    self->startRecording();
                else
                    self->setStatusKey("status.mic.denied");
            };
            if (*answeringNow)
                proceed();
            else
                queue->post(proceed);
        });
    *answeringNow = false;
}

void AppState::startRecording() {
    try {
        services_.recorder->start();
    } catch (const std::exception& error) {
        setStatus(std::string("Erro no microfone: ") + error.what());
        return;
    }
    setRecording(true);
    setStatusKey("status.recording.hint");
}

void AppState::endPushToTalk() {
    if (!isRecording_)
        return;
    const auto file = services_.recorder->stop();
    setRecording(false);
    if (!file) {
        setStatusKey("status.nothing.heard");
        return;
    }
    startJob(DictationInput::ownedRecording(*file), true);
}

void AppState::runPipeline(const std::filesystem::path& input, bool pasteResult) {
    startJob(DictationInput::chosenFile(input), pasteResult);
}

void AppState::startJob(DictationInput input, bool pasteResult) {
    if (isBusy_) {
        // A dictation is never dropped: it waits for the running job. Anything else is
        // ignored while busy, as the window's controls are.
        if (input.isRecording() && pasteResult)
            pendingDictations_.push_back(std::move(input));
        return;
    }
    setBusy(true);
    setStatusKey("status.transcribing");

    // The job holds what it needs by value and the state only weakly, and reaches the state
    // only through the main queue: the state is never kept alive, or destroyed, by a job.
    const DictationSettings settings{modelID_, cleanWithLLM_, fastMode_};
    const auto post = mainQueuePoster();
    DictationProgress progress;
    progress.cleaningStarted = [post] {
        post([](AppState& self) { self.setStatusKey("status.cleaning"); });
    };
    progress.cleaningFailed = [post](const std::string& description) {
        post([description](AppState& self) {
            self.setStatus("Limpeza indisponível: " + description);
        });
    };
    services_.runJob([input = std::move(input), settings, pasteResult,
                      progress = std::move(progress), engine = services_.engine,
                      generate = services_.generate, post] {
        auto outcome = runDictationJob(input, settings, *engine, generate, progress);
        post([outcome = std::move(outcome), pasteResult](AppState& self) {
            self.finishJob(outcome, pasteResult);
        });
    });
}

void AppState::finishJob(const DictationOutcome& outcome, bool pasteResult) {
    switch (outcome.kind) {
        case DictationOutcome::Kind::failed:
            setStatus("Erro: " + outcome.text);
            break;
        case DictationOutcome::Kind::nothingHeard:
            // An empty result never replaces the user's text or clipboard.
            setStatusKey("status.nothing.heard");
            break;
        case DictationOutcome::Kind::text:
            setLastTranscription(outcome.text);
            if (pasteResult) {
                const bool pasted = Paster::pasteAtCursor(outcome.text, *services_.pasteboard,
                                                          *services_.keystrokes);
                setStatusKey(pasted ? "status.pasted" : "status.copied.noax");
            } else {
                services_.pasteboard->setString(outcome.text);
                setStatusKey("status.done.copied");
            }
            break;
    }
    endJob();
}

void AppState::endJob() {
    setBusy(false);
    if (pendingDictations_.empty())
        return;
    auto next = std::move(pendingDictations_.front());
    pendingDictations_.pop_front();
    startJob(std::move(next), true);
}

}  // namespace quenda
