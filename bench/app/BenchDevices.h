// Substitutes for the devices in the dictation benchmarks: a recorder that hands out copies of
// one prepared recording, keystrokes that note when the paste was sent, a hotkey that is there.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "BenchFigures.h"
#include "app/AppServices.h"
#include "audio/Recorder.h"
#include "input/HotkeyManager.h"
#include "input/KeystrokeSynthesizer.h"
#include "live/LiveServicesDefault.h"

namespace quenda::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Hands out a copy of one prepared recording, as the microphone recorder would.
struct PreparedRecorder : audio::Recorder {
    fs::path source, directory;
    int made = 0;
    std::optional<fs::path> current;
    Clock::time_point stoppedAt;
    void requestPermission(std::function<void(bool)> completion) override { completion(true); }
    void start() override {
        current = directory / ("rec-" + std::to_string(made++) + ".wav");
        fs::copy_file(source, *current);
    }
    std::optional<fs::path> stop() override {
        auto file = std::exchange(current, std::nullopt);
        stoppedAt = Clock::now();
        return file;
    }
    bool isRecording() const override { return current.has_value(); }
    std::optional<fs::path> outputURL() const override { return current; }
};

struct TimedKeystrokes : KeystrokeSynthesizer {
    Clock::time_point pastedAt;
    int pastes = 0;
    bool isTrusted() override { return true; }
    bool postPasteShortcut() override {
        pastedAt = Clock::now();
        ++pastes;
        return true;
    }
};

struct NoHotkey : HotkeyManager::Backend {
    bool install(const Hotkey&, EventHandler, GrabHandler) override { return true; }
    void remove() override {}
};

// The state's services for a timed dictation: the given engine, recorder and keystrokes, the
// real downloader and live translator (idle), a language model that answers nothing, a thread
// per job.
inline AppServices dictationServices(MainQueue& queue, std::shared_ptr<TranscriptionEngine> engine,
                                     std::unique_ptr<audio::Recorder> recorder,
                                     std::unique_ptr<KeystrokeSynthesizer> keystrokes) {
    AppServices services;
    services.mainQueue = &queue;
    services.engine = std::move(engine);
    services.recorder = std::move(recorder);
    services.hotkeyBackend = std::make_unique<NoHotkey>();
    services.pasteboard = std::make_shared<MemoryPasteboard>();
    services.keystrokes = std::move(keystrokes);
    services.downloader = std::make_unique<ModelDownloader>(queue);
    services.makeLiveTranslator = [](std::shared_ptr<TranscriptionEngine> shared) {
        return std::make_unique<live::LiveTranslator>(live::defaultLiveServices(std::move(shared)));
    };
    services.generate = [](std::string_view, std::string_view, std::chrono::milliseconds) {
        return std::string();
    };
    services.runJob = detachedThreadJobRunner();
    return services;
}

}  // namespace quenda::bench
