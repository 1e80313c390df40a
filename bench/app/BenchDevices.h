// Substitutes for the devices in the dictation benchmarks: a recorder that hands out copies of
// one prepared recording, keystrokes that note when the paste was sent, a hotkey that is there.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "audio/Recorder.h"
#include "input/HotkeyManager.h"
#include "input/KeystrokeSynthesizer.h"

namespace quenda::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

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

}  // namespace quenda::bench
