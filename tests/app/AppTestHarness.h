// The application state with substitutes for the devices (microphone, keyboard hook,
// keystrokes, language model, live-translation services), the real engine against the stand-in
// speech server, the real downloader against a local HTTP server, and a main queue drained by
// hand. Shared by the state's tests and the window's.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "app/AppState.h"
#include "audio/WavFileWriter.h"
#include "fixtures/FakeServers.h"
#include "fixtures/TestAudio.h"
#include "l10n/L10n.h"
#include "llm/OllamaError.h"
#include "platform/InMemoryDefaults.h"
#include "platform/PlatformError.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace quenda::test {

namespace fs = std::filesystem;

// What the substitutes share with the test; outlives the state.
struct Devices {
    fs::path directory;
    double amplitude = 0.3;  // of the recorded tone; below about 0.005 it is silence
    bool startFails = false;
    bool stopGivesNothing = false;
    bool hotkeyInstalls = true;
    bool keystrokesTrusted = true;
    int pastes = 0;
    std::vector<fs::path> recordings;
    std::thread::id recorderDestroyedOn;
    audio::Recorder* recorder = nullptr;
    HotkeyManager::Backend::EventHandler hotkey;
    HotkeyManager::Backend::GrabHandler grab;  // reports a lost or regained grab
    live::LiveTranslator* translator = nullptr;
};

struct FakeRecorder : audio::Recorder {
    explicit FakeRecorder(Devices& shared) : devices(shared) { devices.recorder = this; }
    ~FakeRecorder() override { devices.recorderDestroyedOn = std::this_thread::get_id(); }
    void requestPermission(std::function<void(bool)> completion) override { completion(true); }
    void start() override {
        if (devices.startFails)
            throw PlatformError("Recorder", 1, "Microfone indisponível");
        // Half a second of a 440 Hz tone, written as the real recorder writes it.
        file = devices.directory / ("rec-" + std::to_string(devices.recordings.size()) + ".wav");
        audio::WavFileWriter wav(*file, 16000, 1);
        for (int i = 0; i < 8000; ++i) {
            const auto value = static_cast<int16_t>(devices.amplitude * 32767 *
                                                    std::sin(2 * M_PI * 440 * i / 16000.0));
            wav.append(&value, 2);
        }
        devices.recordings.push_back(*file);
    }
    std::optional<fs::path> stop() override {
        auto stopped = std::exchange(file, std::nullopt);
        return devices.stopGivesNothing ? std::nullopt : stopped;
    }
    bool isRecording() const override { return file.has_value(); }
    std::optional<fs::path> outputURL() const override { return file; }
    Devices& devices;
    std::optional<fs::path> file;
};

// The keyboard hook and the keystrokes.
struct FakeKeyboard : HotkeyManager::Backend, KeystrokeSynthesizer {
    explicit FakeKeyboard(Devices& shared) : devices(shared) {}
    bool install(const Hotkey&, EventHandler handler, GrabHandler onGrab) override {
        if (devices.hotkeyInstalls) {
            devices.hotkey = std::move(handler);
            devices.grab = std::move(onGrab);
        }
        return devices.hotkeyInstalls;
    }
    void remove() override { devices.hotkey = nullptr; }
    bool isTrusted() override { return devices.keystrokesTrusted; }
    bool postPasteShortcut() override { return ++devices.pastes > 0; }
    Devices& devices;
};

// The live translator's services, doing nothing: the tests play the translator's reports.
struct QuietLive : live::SpeechEngine,
                   live::TranslationModel,
                   live::CaptureSource,
                   live::SpeechSynthesizer {
    void ensureServer(const std::string&) override {}
    std::string transcribe(std::string_view, const std::string&, const std::string&) override {
        return {};
    }
    bool isAvailable() override { return true; }
    std::string translate(const std::string& text, std::chrono::seconds) override { return text; }
    void start() override {}
    void stop() override {}
    void speak(std::string) override {}
    void stopSpeaking() override {}
};

class AppHarness {
  public:
    AppHarness() {
        dir_.apply();
        devices_.directory = dir_ / "recordings";
        fs::create_directories(devices_.directory);
        fs::create_directories(dir_.models());
        L10n::setCurrent(AppLanguage::pt);
        serveModels();
    }
    virtual ~AppHarness() {
        stallDownloads_ = false;
        state_.reset();
        for (auto& job : jobs_)  // without the lock: a job may still ask the language model
            job.join();
        installStandardDefaults(nullptr);
    }

    // A new state in place of the one before (which goes first).
    AppState* makeState() {
        state_.reset();
        AppServices services;
        services.mainQueue = &queue_;
        services.defaults = defaults_;
        ServerSettings server;
        server.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        services.engine = std::make_shared<TranscriptionEngine>(server);
        services.recorder = std::make_unique<FakeRecorder>(devices_);
        services.hotkeyBackend = std::make_unique<FakeKeyboard>(devices_);
        services.pasteboard = pasteboard_;
        services.keystrokes = std::make_unique<FakeKeyboard>(devices_);
        ModelDownloaderSettings download;
        download.addressOf = [this](const ModelInfo& model) {
            return downloads_.url("/" + model.file);
        };
        services.downloader = std::make_unique<ModelDownloader>(queue_, download);
        services.makeLiveTranslator = [this](std::shared_ptr<TranscriptionEngine>) {
            auto quiet = std::make_shared<QuietLive>();
            auto translator = std::make_unique<live::LiveTranslator>(live::LiveServices{
                quiet, quiet, std::make_unique<QuietLive>(), nullptr, std::make_unique<QuietLive>(),
                [](std::string_view key) { return L10n::t(key); }});
            devices_.translator = translator.get();
            return translator;
        };
        services.generate = [this](std::string_view system, std::string_view prompt,
                                   std::chrono::milliseconds) {
            std::lock_guard lock(mutex_);
            prompts_.emplace_back(system, prompt);
            if (!languageModel_)
                throw OllamaError::offline();
            return languageModel_(std::string(prompt));
        };
        services.runJob = [this](std::function<void()> job) {
            std::lock_guard lock(mutex_);
            jobs_.emplace_back(std::move(job));
        };
        services.openFileDialog = dialog_;
        state_ = AppState::create(std::move(services));
        state_->onChange = [this](AppState::Property property) {
            if (property == AppState::Property::status)
                statuses_.push_back(state_->status());
        };
        return state_.get();
    }

    // A new state on the installed base model, whose server answers as `directives` say.
    AppState* makeStateOnBase(const std::vector<std::string>& directives = {}) {
        dir_.installModel("ggml-base.bin", directives);
        makeState()->setModelID("base");
        return state_.get();
    }

    bool runUntil(const std::function<bool()>& condition) {
        return queue_.runUntil(condition, std::chrono::seconds(30));
    }
    // Presses and releases the hotkey as the X11 hook would, then waits for the job's end.
    void press() {
        devices_.hotkey(KeyEventType::keyDown, Hotkey::dKeyCode,
                        Hotkey::optionFlag | Hotkey::commandFlag);
        queue_.drain();
    }
    void release() {
        devices_.hotkey(KeyEventType::keyUp, Hotkey::dKeyCode, 0);
        queue_.drain();
    }
    void joinJobs() {
        std::lock_guard lock(mutex_);
        for (auto& job : jobs_)
            job.join();
        jobs_.clear();
    }
    void dictate() {
        press();
        release();
        ASSERT_TRUE(runUntil([&] { return !state_->isBusy(); }));
    }
    // The statuses as shown: keys ("status.pasted") become their texts, others stay.
    static std::vector<std::string> texts(const std::vector<std::string>& statuses) {
        std::vector<std::string> result;
        for (const auto& status : statuses)
            result.push_back(status.starts_with("status.") ? L10n::t(status) : status);
        return result;
    }
    std::string savedText() { return test::readFile(dir_.lastText()); }
    size_t inferenceRequests() { return dir_.inferences().size(); }

    test::SpeechHome dir_;
    std::shared_ptr<InMemoryDefaults> defaults_ = [] {
        auto store = std::make_shared<InMemoryDefaults>();
        installStandardDefaults(store);
        return store;
    }();
    ManualMainQueue queue_;
    Devices devices_;
    std::shared_ptr<MemoryPasteboard> pasteboard_ = std::make_shared<MemoryPasteboard>();
    struct Dialog : OpenFileDialog {
        std::optional<fs::path> answer;
        std::vector<std::string_view> offered;
        std::optional<fs::path> chooseAudioFile(std::span<const std::string_view> e) override {
            offered.assign(e.begin(), e.end());
            return answer;
        }
    };
    std::shared_ptr<Dialog> dialog_ = std::make_shared<Dialog>();
    std::mutex mutex_;
    std::function<std::string(const std::string&)> languageModel_;
    std::vector<std::pair<std::string, std::string>> prompts_;
    std::vector<std::thread> jobs_;
    std::vector<std::string> statuses_;
    std::shared_ptr<AppState> state_;

    // Model downloads: every path answers a model's body. While `stallDownloads_` is set, a
    // megabyte is announced and the answer stops after 40 % of it.
    std::atomic<bool> stallDownloads_ = false;

  private:
    void serveModels() {
        downloads_.Get("/.*", [this](const httplib::Request&, httplib::Response& out) {
            if (!stallDownloads_)
                out.set_content("fake-ggml-model\ntext baixado\n", "application/octet-stream");
            else
                out.set_content_provider(1 << 20, "application/octet-stream",
                                         [this](size_t offset, size_t, httplib::DataSink& sink) {
                                             if (offset > 0) {
                                                 // Until the test or the downloader gives up (a
                                                 // closed connection makes the write below fail).
                                                 test::waitUntil([&] { return !stallDownloads_; },
                                                                 std::chrono::seconds(10));
                                                 return false;
                                             }
                                             const std::string part(400 << 10, '\0');
                                             return sink.write(part.data(), part.size());
                                         });
        });
        downloads_.start();
    }
    test::LocalHttpServer downloads_;
};

}  // namespace quenda::test
