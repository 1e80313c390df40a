#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "live/LiveServices.h"
#include "platform/DispatchQueue.h"

namespace quenda::live {

// Turns the sound that other applications play into Brazilian Portuguese lines, and speaks
// them if asked: system audio is cut into six-second chunks, silent chunks are skipped, each
// other chunk is transcribed in the source language, cleaned of the recogniser's non-speech
// markers, translated by the language model, reported through onText and spoken.
//
// Threads: start() and a user's stop() on the owner's thread; the start-up task of each start
// (server start, then capture start) and the shutting down of a run's captures on the serial
// queue "live-control", so that one run's captures are gone before the next run starts its
// own; samples arrive on the capture's delivery thread; chunks run one at a time, in order, on
// the serial queue "live-translator". Callbacks are called on those threads; receivers move to
// their own.
//
// Every start that is accepted opens a run. Work queued by a run (its chunks, its start-up
// task, the captures it started) belongs to that run alone: once the run has stopped, it is
// dropped or shut down, even if a new run has started meanwhile. After a run's onStop nothing
// of it is reported or spoken, except the failure of a request that was already under way.
class LiveTranslator {
  public:
    static constexpr double chunkSeconds = 6.0;
    static constexpr double sampleRate = 16000.0;
    static constexpr std::size_t chunkSamples =
        static_cast<std::size_t>(chunkSeconds * sampleRate);  // 96 000
    // Chunks queued or being processed at most; a chunk complete beyond that is dropped.
    static constexpr int maxPendingChunks = 3;
    // A chunk is processed only when its rms is strictly above this (about −48 dBFS).
    static constexpr float silenceThreshold = 0.004f;
    static constexpr std::chrono::seconds translationTimeout{60};

    explicit LiveTranslator(LiveServices services);
    // Shuts down a run in progress (without onStop) and waits for the chunk being processed.
    ~LiveTranslator();
    LiveTranslator(const LiveTranslator&) = delete;
    LiveTranslator& operator=(const LiveTranslator&) = delete;

    // Set once by the owner, before the first start.
    std::function<void(const std::string& line)> onText;
    std::function<void(const std::string& text)> onStatus;
    // Exactly once per accepted start; no reason means the user stopped it.
    std::function<void(const std::optional<std::string>& reason)> onStop;

    // Starts translating; does nothing while already running. Checks the language model first
    // (blocking, up to about 2 seconds) and returns as soon as the start-up task is queued.
    void start(const std::string& sourceLanguage, const std::string& modelID, bool speak,
               bool muteOriginal);
    // Stops the running translation and reports onStop(reason); does nothing when idle.
    void stop(const std::optional<std::string>& reason = std::nullopt);

    // The loudness gate: true when the chunk's rms is strictly above silenceThreshold.
    static bool isAudible(std::span<const float> chunk);
    // The samples as a 16-bit PCM mono WAV file (canonical 44-byte header).
    static std::string wavData(std::span<const float> samples, uint32_t sampleRate);
    // The text without the recogniser's non-speech markers, trimmed at both ends.
    static std::string stripArtifacts(std::string_view text);

  private:
    struct Run;

    void append(const std::shared_ptr<Run>& run, std::vector<float> samples);
    void process(Run& run, const std::vector<float>& chunk);
    void startUp(const std::shared_ptr<Run>& run);
    // Returns whether a source was started for the run (false: the run stopped meanwhile).
    bool startCapture(const std::shared_ptr<Run>& run);
    void stopRun(const std::shared_ptr<Run>& run, const std::optional<std::string>& reason,
                 bool notify);
    // On controlQueue_.
    void shutDownCaptures(uint64_t runID);
    // Calls `report` unless the run has stopped; a stop waits for a report in progress, so
    // nothing of a run is reported, or spoken, after its onStop.
    void reportFor(Run& run, const std::function<void()>& report);
    void warn(Run& run, const std::string& text);
    std::shared_ptr<Run> currentRun();
    std::shared_ptr<Run> monitorRun();

    LiveServices services_;
    std::atomic<uint64_t> lastRunID_{0};

    // Guards the fields below it.
    std::mutex mutex_;
    std::condition_variable reportsDone_;
    std::shared_ptr<Run> run_;            // the run in progress, if any
    std::shared_ptr<Run> monitorRun_;     // the run the monitor capture delivers to
    uint64_t monitorOwner_ = 0;           // the run whose start-up started the monitor capture
    std::unique_ptr<CaptureSource> tap_;  // the per-application capture of a run
    uint64_t tapOwner_ = 0;

    // Last: destroyed first, while everything their work uses still exists.
    DispatchQueue controlQueue_{"live-control"};
    DispatchQueue processQueue_{"live-translator"};
};

}  // namespace quenda::live
