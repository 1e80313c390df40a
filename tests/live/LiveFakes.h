#pragma once

// Stand-ins for the live translator's services: they record what they are asked, answer as the
// test scripts them, and can be held at a gate to catch the translator mid-way.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "live/LiveServices.h"
#include "support/TestSupport.h"

namespace quenda::live::test {

// Holds callers until the test lets them through: one at a time, or all from then on.
class Gate {
  public:
    explicit Gate(bool open = true) : unlimited_(open) {}
    void pass() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return unlimited_ || permits_ > 0; });
        if (!unlimited_)
            --permits_;
    }
    void letOneThrough() {
        std::lock_guard lock(mutex_);
        ++permits_;
        changed_.notify_all();
    }
    void close() {
        std::lock_guard lock(mutex_);
        unlimited_ = false;
    }
    void open() {
        std::lock_guard lock(mutex_);
        unlimited_ = true;
        changed_.notify_all();
    }
    int arrived() {
        std::lock_guard lock(mutex_);
        return arrived_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool unlimited_;
    int permits_ = 0;
    int arrived_ = 0;
};

// The first 16-bit sample of a WAV file made by LiveTranslator::wavData.
inline int16_t firstSample(const std::string& wav) {
    int16_t value = 0;
    std::memcpy(&value, wav.data() + 44, sizeof value);
    return value;
}

inline int16_t lastSample(const std::string& wav) {
    int16_t value = 0;
    std::memcpy(&value, wav.data() + wav.size() - 2, sizeof value);
    return value;
}

struct FakeEngine : SpeechEngine {
    struct Call {
        std::string wav;
        std::string modelID;
        std::string language;
    };

    void ensureServer(const std::string& modelID) override {
        ensureGate.pass();
        std::lock_guard lock(mutex);
        ensured.push_back(modelID);
        if (ensureFailure)
            throw std::runtime_error(*ensureFailure);
    }

    std::string transcribe(std::string_view wav, const std::string& modelID,
                           const std::string& language) override {
        Call call{std::string(wav), modelID, language};
        {
            std::lock_guard lock(mutex);
            calls.push_back(call);
        }
        transcribeGate.pass();
        std::optional<std::string> scripted;
        {
            std::lock_guard lock(mutex);
            if (!answers.empty()) {
                scripted = answers.front();
                answers.pop_front();
            }
        }
        if (scripted && scripted->starts_with("throw:"))
            throw std::runtime_error(scripted->substr(6));
        // By default the transcript names the chunk by its first sample.
        return scripted ? *scripted : "chunk " + std::to_string(firstSample(call.wav));
    }

    std::vector<Call> callsSoFar() {
        std::lock_guard lock(mutex);
        return calls;
    }

    std::mutex mutex;
    std::vector<std::string> ensured;
    std::vector<Call> calls;
    std::deque<std::string> answers;  // "throw:<text>" fails with that text
    std::optional<std::string> ensureFailure;
    Gate ensureGate;
    Gate transcribeGate;
};

struct FakeModel : TranslationModel {
    bool isAvailable() override { return available; }

    std::string translate(const std::string& text, std::chrono::seconds timeout) override {
        std::lock_guard lock(mutex);
        prompts.push_back(text);
        timeouts.push_back(timeout);
        if (failure)
            throw std::runtime_error(*failure);
        return answer ? *answer : "pt: " + text;
    }

    std::vector<std::string> promptsSoFar() {
        std::lock_guard lock(mutex);
        return prompts;
    }

    std::atomic<bool> available{true};
    std::mutex mutex;
    std::vector<std::string> prompts;
    std::vector<std::chrono::seconds> timeouts;
    std::optional<std::string> answer;
    std::optional<std::string> failure;
};

// What happened to a capture source; outlives the source so the test can look afterwards.
struct SourceLog {
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<bool> running{false};
    std::optional<bool> mutedAsked;
    std::optional<std::string> startFailure;
    std::shared_ptr<Gate> startGate = std::make_shared<Gate>();

    std::mutex mutex;
    CaptureSource* source = nullptr;  // while it exists

    // Delivers samples as the source's own delivery thread would.
    void deliver(std::vector<float> samples) {
        std::lock_guard lock(mutex);
        if (source && source->onSamples)
            source->onSamples(std::move(samples));
    }
    void fail(const std::string& description) {
        std::lock_guard lock(mutex);
        if (source && source->onError)
            source->onError(description);
    }
};

struct FakeSource : CaptureSource {
    explicit FakeSource(std::shared_ptr<SourceLog> sourceLog) : log(std::move(sourceLog)) {
        std::lock_guard lock(log->mutex);
        log->source = this;
    }
    ~FakeSource() override {
        std::lock_guard lock(log->mutex);
        log->source = nullptr;
    }
    void start() override {
        ++log->starts;
        log->startGate->pass();
        if (log->startFailure)
            throw std::runtime_error(*log->startFailure);
        log->running = true;
    }
    void stop() override {
        ++log->stops;
        log->running = false;
    }
    std::shared_ptr<SourceLog> log;
};

// What the synthesiser was asked to do; outlives it.
struct SpeechLog {
    std::vector<std::string> spokenSoFar() {
        std::lock_guard lock(mutex);
        return spoken;
    }
    std::mutex mutex;
    std::vector<std::string> spoken;
    std::atomic<int> stops{0};
};

struct FakeSynthesizer : SpeechSynthesizer {
    explicit FakeSynthesizer(std::shared_ptr<SpeechLog> speechLog) : log(std::move(speechLog)) {}
    void speak(std::string text) override {
        std::lock_guard lock(log->mutex);
        log->spoken.push_back(std::move(text));
    }
    void stopSpeaking() override { ++log->stops; }
    std::shared_ptr<SpeechLog> log;
};

// Everything the translator reported, in order.
struct Reports {
    void attach(std::function<void(const std::string&)>& onText,
                std::function<void(const std::string&)>& onStatus,
                std::function<void(const std::optional<std::string>&)>& onStop) {
        onText = [this](const std::string& line) { add(texts, line); };
        onStatus = [this](const std::string& text) { add(statuses, text); };
        onStop = [this](const std::optional<std::string>& reason) {
            std::lock_guard lock(mutex);
            stops.push_back(reason);
            all.push_back("stop:" + reason.value_or("-"));
        };
    }
    void add(std::vector<std::string>& list, const std::string& text) {
        std::lock_guard lock(mutex);
        list.push_back(text);
        all.push_back(text);
    }
    template <typename Field>
    Field get(const Field& field) {
        std::lock_guard lock(mutex);
        return field;
    }
    bool waitForTexts(std::size_t count) {
        return quenda::test::waitUntil([&] { return get(texts).size() >= count; });
    }
    bool waitForStatus(const std::string& text) {
        return quenda::test::waitUntil([&] {
            auto list = get(statuses);
            return std::find(list.begin(), list.end(), text) != list.end();
        });
    }
    bool waitForStops(std::size_t count) {
        return quenda::test::waitUntil([&] { return get(stops).size() >= count; });
    }

    std::mutex mutex;
    std::vector<std::string> texts;
    std::vector<std::string> statuses;
    std::vector<std::optional<std::string>> stops;
    std::vector<std::string> all;  // texts, statuses and "stop:<reason>" in order
};

inline std::vector<float> constant(std::size_t count, float value) {
    return std::vector<float>(count, value);
}

}  // namespace quenda::live::test
