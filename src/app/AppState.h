#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "app/DictationJob.h"
#include "app/LastTranscriptionFile.h"
#include "l10n/AppLanguage.h"

namespace quenda {

// The one observable object of the windowed application: every value the window shows or
// edits, the user's stored choices, and the operations behind the hotkey and the window's
// controls. It lives on the main thread: every property is read and changed there, and work
// done elsewhere (transcription, language-model calls, live translation, downloads, hotkey
// events) comes back through the main queue before it touches the state. Background jobs hold
// only the values they need and a weak reference, so the state is always destroyed on the
// main thread and a job that outlives it ends without effect.
class AppState : public std::enable_shared_from_this<AppState> {
  public:
    // Which published value changed, for observers that redraw only a part.
    enum class Property {
        uiLanguage,
        modelID,
        cleanWithLLM,
        fastMode,
        lastTranscription,
        summary,
        status,
        isBusy,
        isRecording,
        accessibilityOK,
        liveActive,
        liveSourceLanguage,
        liveSpeak,
        liveMuteOriginal,
        liveText,
        modelInstalled,
        download,  // the downloader's progress, running flag or error
    };

    static constexpr const char* defaultModelID = "large-v3-turbo";
    static constexpr std::size_t maxLiveLines = 40;

    // Builds the state with its components, loads the stored settings and the last text, and
    // installs the hotkey. Call on the main thread.
    static std::shared_ptr<AppState> create(AppServices services);
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // The "Quenda" application-support directory (created, legacy text migrated on every call).
    static std::filesystem::path appSupportDir() {
        return LastTranscriptionFile::applicationSupportDirectory();
    }

    // Called on the main thread after a published value changed. Set once by the owner.
    std::function<void(Property)> onChange;
    // Called on the main thread after the interface language was assigned (the window
    // rebuilds its menus and title). Set once by the owner.
    std::function<void()> onLanguageChanged;

    // ---- published values (main thread)
    AppLanguage uiLanguage() const { return uiLanguage_; }
    const std::string& modelID() const { return modelID_; }
    bool cleanWithLLM() const { return cleanWithLLM_; }
    // Dictations and files transcribed with the speech model's window sized to the audio:
    // faster, possibly less accurate.
    bool fastMode() const { return fastMode_; }
    const std::string& lastTranscription() const { return lastTranscription_; }
    const std::string& summary() const { return summary_; }
    const std::string& status() const { return status_; }
    bool isBusy() const { return isBusy_; }
    bool isRecording() const { return isRecording_; }
    // Whether the global shortcut works and pasting can send its keystroke.
    bool accessibilityOK() const { return accessibilityOK_; }
    // Pasting could work but the combination is held by another program (the grab was refused,
    // at start or after a keyboard-map change): the user has to free it, not fix the session.
    bool hotkeyTaken() const { return keystrokesTrusted_ && !hotkeyHeld_; }
    bool liveActive() const { return liveActive_; }
    const std::string& liveSourceLanguage() const { return liveSourceLanguage_; }
    bool liveSpeak() const { return liveSpeak_; }
    bool liveMuteOriginal() const { return liveMuteOriginal_; }
    const std::deque<std::string>& liveText() const { return liveText_; }
    bool modelInstalled() const { return modelInstalled_; }
    const ModelDownloader& downloader() const { return *downloader_; }

    // ---- the user's choices (main thread)
    // Stores the language, resets the status to "ready" in it and announces the change.
    void setUiLanguage(AppLanguage language);
    // Selects a speech model and stores the choice. Refused (false) while live translation
    // runs: the running translation and dictation share one server for one model.
    bool setModelID(const std::string& id);
    void setCleanWithLLM(bool on);
    void setFastMode(bool on);
    void setLiveSourceLanguage(const std::string& code);
    void setLiveSpeak(bool on);
    void setLiveMuteOriginal(bool on);

    // ---- push-to-talk (the hotkey's callbacks; main thread)
    void beginPushToTalk();
    void endPushToTalk();

    // Transcribes `input` in the background; `pasteResult` also pastes the text into the
    // focused application. Ignored while another job runs.
    void runPipeline(const std::filesystem::path& input, bool pasteResult);

    // ---- the window's actions (main thread)
    void chooseAndTranscribeFile();
    void summarizeLast();
    void copyLast();
    void downloadCurrentModel();
    void cancelDownload();
    void toggleLiveTranslation();
    // Shows the text of a status key (the window's own confirmations, such as a copied summary).
    void showStatus(std::string_view key) { setStatusKey(key); }

    // The extensions the open dialog offers: the directly convertible ones, then those that
    // need ffmpeg.
    static std::vector<std::string_view> audioFileExtensions();

  private:
    explicit AppState(AppServices services);
    void construct();
    void wireHotkey();
    void setHotkeyHeld(bool held);
    void wireLiveTranslator();

    void setStatus(std::string text);
    void setStatusKey(std::string_view key);
    void setBusy(bool busy);
    void setRecording(bool recording);
    void setLastTranscription(std::string text);
    void setModelInstalled(bool installed);
    void changed(Property property);

    void startRecording();
    void startJob(DictationInput input, bool pasteResult);
    void finishJob(const DictationOutcome& outcome, bool pasteResult);
    void endJob();
    // Runs work with the state on the main queue, if the state still exists then. The poster
    // holds the queue and a weak reference only, so other threads may keep and call it.
    using Poster = std::function<void(std::function<void(AppState&)>)>;
    Poster mainQueuePoster();

    AppServices services_;
    std::unique_ptr<HotkeyManager> hotkeys_;
    std::unique_ptr<live::LiveTranslator> liveTranslator_;
    ModelDownloader* downloader_ = nullptr;

    AppLanguage uiLanguage_ = AppLanguage::pt;
    std::string modelID_ = defaultModelID;
    bool cleanWithLLM_ = false;
    bool fastMode_ = false;
    std::string lastTranscription_;
    std::string summary_;
    std::string status_;
    bool isBusy_ = false;
    bool isRecording_ = false;
    bool accessibilityOK_ = false;
    bool keystrokesTrusted_ = false;
    bool hotkeyHeld_ = false;
    bool liveActive_ = false;
    std::string liveSourceLanguage_ = "en";
    bool liveSpeak_ = true;
    bool liveMuteOriginal_ = true;
    std::deque<std::string> liveText_;
    bool modelInstalled_ = true;

    // A dictation released while another job ran; it runs, with its paste, when that job ends.
    std::deque<DictationInput> pendingDictations_;
    // The live-translation run the translator's reports belong to; read on the translator's
    // threads when a report is made, so reports of an earlier run are recognised.
    std::atomic<uint64_t> liveRun_{0};
};

}  // namespace quenda
