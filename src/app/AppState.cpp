// AppState's construction, its published values and the user's stored choices.

#include "app/AppState.h"

#include <thread>

#include "l10n/L10n.h"

namespace quenda {

namespace {

constexpr std::string_view kModelKey = "modelID";
constexpr std::string_view kCleanKey = "cleanWithLLM";
constexpr std::string_view kFastKey = "fastMode";

}  // namespace

JobRunner detachedThreadJobRunner() {
    return [](std::function<void()> job) { std::thread(std::move(job)).detach(); };
}

std::shared_ptr<AppState> AppState::create(AppServices services) {
    // Not make_shared: the constructor is private. The callbacks wired in construct() need a
    // weak reference, which exists only once the shared pointer does.
    std::shared_ptr<AppState> state(new AppState(std::move(services)));
    state->construct();
    return state;
}

AppState::AppState(AppServices services) : services_(std::move(services)) {
    if (!services_.defaults)
        services_.defaults = standardDefaults();
    uiLanguage_ = L10n::current();
    status_ = L10n::t("status.ready");
    keystrokesTrusted_ = services_.keystrokes->isTrusted();
    hotkeys_ = std::make_unique<HotkeyManager>(Hotkey::pushToTalk(), *services_.mainQueue,
                                               std::move(services_.hotkeyBackend));
    downloader_ = services_.downloader.get();
}

void AppState::construct() {
    if (auto stored = services_.defaults->text(kModelKey))
        modelID_ = *stored;
    if (auto stored = services_.defaults->boolean(kCleanKey))
        cleanWithLLM_ = *stored;
    if (auto stored = services_.defaults->boolean(kFastKey))
        fastMode_ = *stored;

    // A file that is there but not readable as text is kept aside, never overwritten.
    LastTranscriptionFile::setAsideUnreadable();
    setLastTranscription(LastTranscriptionFile::read().value_or(""));

    downloader_->onChange = [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->changed(Property::download);
    };
    // A microphone that goes away mid-recording is reported at once; what was recorded until
    // then is still transcribed at the release.
    services_.recorder->onInterrupted = [post = mainQueuePoster()](const std::string& reason) {
        post([reason](AppState& self) {
            if (self.isRecording_)
                self.setStatus("Erro no microfone: " + reason);
        });
    };
    wireHotkey();
    wireLiveTranslator();
    setModelInstalled(TranscriptionEngine::isModelInstalled(modelID_));
}

AppState::~AppState() {
    // The translator and the hotkey report through this object: they go first, while
    // everything they might still touch exists.
    liveTranslator_.reset();
    hotkeys_.reset();
}

void AppState::wireHotkey() {
    hotkeys_->onPress = [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->beginPushToTalk();
    };
    hotkeys_->onRelease = [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->endPushToTalk();
    };
    // A keyboard-layout change can take the combination away (another program holds it in the
    // new layout) or give it back: the window's warning follows.
    hotkeys_->onActiveChange = [weak = weak_from_this()](bool active) {
        if (auto self = weak.lock())
            self->setHotkeyHeld(active);
    };
    setHotkeyHeld(hotkeys_->start());
}

void AppState::setHotkeyHeld(bool held) {
    hotkeyHeld_ = held;
    accessibilityOK_ = held && keystrokesTrusted_;
    changed(Property::accessibilityOK);
}

AppState::Poster AppState::mainQueuePoster() {
    return [queue = services_.mainQueue, weak = weak_from_this()](auto work) {
        queue->post([weak, work = std::move(work)] {
            if (auto self = weak.lock())
                work(*self);
        });
    };
}

void AppState::changed(Property property) {
    if (onChange)
        onChange(property);
}

// ---- published values

void AppState::setStatus(std::string text) {
    status_ = std::move(text);
    changed(Property::status);
}

void AppState::setStatusKey(std::string_view key) {
    setStatus(L10n::t(key));
}

void AppState::setBusy(bool busy) {
    isBusy_ = busy;
    changed(Property::isBusy);
}

void AppState::setRecording(bool recording) {
    isRecording_ = recording;
    changed(Property::isRecording);
}

void AppState::setLastTranscription(std::string text) {
    lastTranscription_ = std::move(text);
    // A failed write leaves the text shown; the next change writes again.
    LastTranscriptionFile::write(lastTranscription_);
    changed(Property::lastTranscription);
}

void AppState::setModelInstalled(bool installed) {
    modelInstalled_ = installed;
    changed(Property::modelInstalled);
}

// ---- the user's choices

void AppState::setUiLanguage(AppLanguage language) {
    uiLanguage_ = language;
    L10n::setCurrent(language);
    changed(Property::uiLanguage);
    setStatusKey("status.ready");
    if (onLanguageChanged)
        onLanguageChanged();
}

bool AppState::setModelID(const std::string& id) {
    if (liveActive_)
        return false;
    modelID_ = id;
    services_.defaults->setText(kModelKey, id);
    changed(Property::modelID);
    setModelInstalled(TranscriptionEngine::isModelInstalled(id));
    return true;
}

void AppState::setCleanWithLLM(bool on) {
    cleanWithLLM_ = on;
    services_.defaults->setBoolean(kCleanKey, on);
    changed(Property::cleanWithLLM);
}

void AppState::setFastMode(bool on) {
    fastMode_ = on;
    services_.defaults->setBoolean(kFastKey, on);
    changed(Property::fastMode);
}

void AppState::setLiveSourceLanguage(const std::string& code) {
    liveSourceLanguage_ = code;
    changed(Property::liveSourceLanguage);
}

void AppState::setLiveSpeak(bool on) {
    liveSpeak_ = on;
    changed(Property::liveSpeak);
}

void AppState::setLiveMuteOriginal(bool on) {
    liveMuteOriginal_ = on;
    changed(Property::liveMuteOriginal);
}

}  // namespace quenda
