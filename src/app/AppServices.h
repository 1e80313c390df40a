#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/Recorder.h"
#include "download/ModelDownloader.h"
#include "engine/TranscriptionEngine.h"
#include "input/HotkeyManager.h"
#include "input/KeystrokeSynthesizer.h"
#include "live/LiveTranslator.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"

namespace quenda {

// The modal "open file" dialog of the window: the chosen file, or nothing when the user
// cancelled. `extensions` are the lower-case file-name extensions to offer, in order.
class OpenFileDialog {
  public:
    virtual ~OpenFileDialog() = default;
    virtual std::optional<std::filesystem::path> chooseAudioFile(
        std::span<const std::string_view> extensions) = 0;
};

// The longest a language-model request (clean-up, summary) may take.
inline constexpr std::chrono::seconds kLanguageModelTimeout{600};

// One blocking language-model generation (the local Ollama server in the product): the answer
// to `prompt` under the system text `system`. Throws on failure; what() is the text shown.
using LanguageModelCall = std::function<std::string(
    std::string_view system, std::string_view prompt, std::chrono::milliseconds timeout)>;

// Runs a piece of background work on a thread of its own (the product detaches a thread per
// job; tests may run jobs when they choose).
using JobRunner = std::function<void(std::function<void()> job)>;

// Everything the application state works with, handed in whole so that tests put substitutes
// where a device is needed. Every member is required except `openFileDialog` (without one,
// choosing a file does nothing).
struct AppServices {
    MainQueue* mainQueue = nullptr;
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<TranscriptionEngine> engine;
    std::unique_ptr<audio::Recorder> recorder;
    std::unique_ptr<HotkeyManager::Backend> hotkeyBackend;
    std::shared_ptr<Pasteboard> pasteboard;
    std::unique_ptr<KeystrokeSynthesizer> keystrokes;
    std::unique_ptr<ModelDownloader> downloader;
    // Makes the live translator for the shared engine; called once, during construction.
    std::function<std::unique_ptr<live::LiveTranslator>(std::shared_ptr<TranscriptionEngine>)>
        makeLiveTranslator;
    LanguageModelCall generate;
    JobRunner runJob;
    std::shared_ptr<OpenFileDialog> openFileDialog;
};

// A detached thread per job: the product's job runner.
JobRunner detachedThreadJobRunner();

}  // namespace quenda
