#pragma once

// What the sound tests share: tones, levels, the samples a capture delivers, and independent
// looks at the test desktop's sound server (pactl, parec).

#include <pulse/introspect.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "WavInfo.h"
#include "audio/PulseConnection.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::test {

using namespace std::chrono_literals;

constexpr std::size_t kRate = 16000;

// A 440 Hz sine tone.
inline std::vector<float> sineTone(double seconds, uint32_t rate = 22050, double level = 0.5) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(level * std::sin(2 * M_PI * 440 * double(i) / rate));
    return samples;
}

inline double rms(const std::vector<float>& samples, std::size_t from = 0) {
    double sum = 0;
    for (std::size_t i = from; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return from < samples.size() ? std::sqrt(sum / double(samples.size() - from)) : 0;
}

inline float peak(const std::vector<float>& samples, std::size_t from = 0) {
    float result = 0;
    for (std::size_t i = from; i < samples.size(); ++i)
        result = std::max(result, std::fabs(samples[i]));
    return result;
}

// The frequency of a clean tone at 16 kHz, from its zero crossings.
inline double toneFrequency(const std::vector<float>& samples) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return double(crossings) / 2.0 * kRate / double(samples.size());
}

// A WAV file's description and its first channel's 16-bit samples scaled to −1…1.
struct Wav {
    WavInfo info;
    std::size_t fileSize = 0;
    std::vector<float> samples;
};
inline std::optional<Wav> readWav(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    auto info = parseWav(bytes);
    if (!info)
        return std::nullopt;
    Wav wav{*info, bytes.size(), {}};
    for (auto at = info->dataOffset; at + 2 <= info->dataOffset + info->dataBytes;
         at += 2 * info->channels) {
        int16_t sample;
        std::memcpy(&sample, bytes.data() + at, 2);
        wav.samples.push_back(sample / 32768.0f);
    }
    return wav;
}

// Gathers the blocks a capture delivers, and on how many threads they came.
class SampleCollector {
  public:
    auto sink() {
        return [this](std::vector<float> block) {
            std::lock_guard lock(mutex_);
            samples_.insert(samples_.end(), block.begin(), block.end());
            threads_.insert(std::this_thread::get_id());
        };
    }
    std::vector<float> samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    std::size_t size() const { return samples().size(); }
    std::size_t threadCount() const {
        std::lock_guard lock(mutex_);
        return threads_.size();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        samples_.clear();
        threads_.clear();
    }
    bool waitForSize(std::size_t count) {
        return waitUntil([&] { return size() >= count; }, 5s);
    }
    // Until the last quarter second is louder than `level` (rms).
    bool waitForSound(double level = 0.2) {
        return waitUntil(
            [&] {
                const auto all = samples();
                return all.size() >= kRate / 4 && rms(all, all.size() - kRate / 4) > level;
            },
            5s);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    std::set<std::thread::id> threads_;
};

inline std::string pactl(const std::vector<std::string>& arguments) {
    auto result = runProgram("/usr/bin/pactl", arguments, {{"LC_ALL", "C"}});
    if (result.status != 0)
        throw std::runtime_error("pactl failed: " + result.err);
    return result.out;
}

// The server's list of `what` ("sinks", "sink-inputs", ...).
inline nlohmann::json pactlList(const std::string& what) {
    return nlohmann::json::parse(pactl({"-f", "json", "list", what}));
}

// The name of the sink that process `pid` plays into now (empty when it plays nothing).
inline std::string sinkOfProcess(int pid) {
    for (const auto& input : pactlList("sink-inputs")) {
        if (input["properties"].value("application.process.id", "") != std::to_string(pid))
            continue;
        for (const auto& sink : pactlList("sinks")) {
            if (sink["index"] == input["sink"])
                return sink["name"];
        }
    }
    return {};
}

inline std::unique_ptr<Process> startPaplay(const std::filesystem::path& file,
                                            const std::string& sink = "DefaultSink") {
    auto player = Process::launch("/usr/bin/paplay", {"--device=" + sink, file.string()});
    if (!waitUntil([&] { return !sinkOfProcess(player->pid()).empty(); }, 5s))
        throw std::runtime_error("paplay did not start playing");
    return player;
}

// Has the server end the record stream of this process, as it does when a device goes away.
inline void killOwnSourceOutput() {
    for (const auto& output : pactlList("source-outputs")) {
        if (output["properties"].value("application.process.id", "") != std::to_string(::getpid()))
            continue;
        audio::PulseConnection connection("Quenda tests");
        audio::PulseConnection::Lock lock(connection);
        if (connection.await(pa_context_kill_source_output(
                connection.context(), output["index"].get<uint32_t>(),
                [](pa_context*, int, void* self) {
                    static_cast<audio::PulseConnection*>(self)->wakeWaiters();
                },
                &connection)))
            return;
    }
    throw std::runtime_error("could not end the record stream of this process");
}

// Listens to a source in another process (parec) and returns what it heard, mono at 16 kHz:
// an independent ear on what reaches the speakers.
class MonitorListener {
  public:
    // Returns once the sound flows (a fresh monitor can take two seconds to deliver).
    explicit MonitorListener(const std::string& source = "DefaultSink.monitor") {
        process_ = Process::launch("/usr/bin/parec",
                                   {"--raw", "--format=float32le", "--rate=16000", "--channels=1",
                                    "--latency-msec=20", "--device=" + source, file_.string()});
        std::error_code error;
        if (!waitUntil([&] { return std::filesystem::file_size(file_, error) > 0 && !error; }))
            throw std::runtime_error("parec heard nothing from " + source);
        start_ = std::filesystem::file_size(file_) / sizeof(float) * sizeof(float);
    }
    // Stops listening and returns what was heard since construction returned.
    std::vector<float> finish() {
        process_->terminate();
        process_->waitForExit();
        const std::string bytes = readFile(file_);
        std::vector<float> samples((bytes.size() - start_) / sizeof(float));
        std::memcpy(samples.data(), bytes.data() + start_, samples.size() * sizeof(float));
        return samples;
    }
    // What reaches `source` over most of a second.
    static std::vector<float> listen(const std::string& source = "DefaultSink.monitor") {
        MonitorListener ear(source);
        std::this_thread::sleep_for(800ms);
        return ear.finish();
    }

  private:
    TempDir dir_;
    std::filesystem::path file_ = dir_ / "heard.raw";
    std::unique_ptr<Process> process_;
    std::size_t start_ = 0;
};

}  // namespace quenda::test
