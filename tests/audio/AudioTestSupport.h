#pragma once

// What the sound tests share: tones, levels, the samples a capture delivers, and independent
// looks at the test desktop's sound server (pactl, parec).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numeric>

#include "audio/PulsePlayback.h"
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
    const auto begin = samples.begin() + long(std::min(from, samples.size()));
    const double sum = std::inner_product(begin, samples.end(), begin, 0.0);
    return begin < samples.end() ? std::sqrt(sum / double(samples.end() - begin)) : 0;
}

inline float peak(const std::vector<float>& samples, std::size_t from = 0) {
    float result = 0;
    for (std::size_t i = from; i < samples.size(); ++i)
        result = std::max(result, std::fabs(samples[i]));
    return result;
}

// The frequency of a tone at 16 kHz, from the sine's recurrence x[n-1] + x[n+1] = 2cos(w)x[n]
// over its louder samples. The median keeps a glitch out (such as the gap of one cycle that a
// busy sound server leaves in every stream), which the count of zero crossings let in.
inline double toneFrequency(const std::vector<float>& samples) {
    const float top = peak(samples);
    std::vector<double> ratios;
    for (std::size_t n = 1; n + 1 < samples.size(); ++n) {
        if (std::fabs(samples[n]) > top / 2)
            ratios.push_back((samples[n - 1] + samples[n + 1]) / (2.0 * samples[n]));
    }
    if (ratios.empty())
        return 0;
    std::nth_element(ratios.begin(), ratios.begin() + long(ratios.size() / 2), ratios.end());
    return std::acos(std::clamp(ratios[ratios.size() / 2], -1.0, 1.0)) * kRate / (2 * M_PI);
}

// Gathers the blocks a capture delivers.
class SampleCollector {
  public:
    auto sink() {
        return [this](std::vector<float> block) {
            std::lock_guard lock(mutex_);
            samples_.insert(samples_.end(), block.begin(), block.end());
        };
    }
    std::vector<float> samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    std::size_t size() const { return samples().size(); }
    bool waitForSize(std::size_t count) {
        return waitUntil([&] { return size() >= count; }, 5s);
    }
    // The quarter second after the first 20 ms block louder than 0.1 rms from sample `from` on
    // (empty when none comes within five seconds). That block, where the sound begins, is left
    // out: it may hold silence and the resampler's ringing. Any level passes, as each server
    // mixes channels down its own way (PipeWire's stereo to mono is 3 dB above PulseAudio's).
    std::vector<float> waitForSound(std::size_t from = 0) {
        constexpr long kBlock = kRate / 50;
        std::vector<float> window;
        waitUntil(
            [&] {
                const auto all = samples();
                auto at = all.begin() + long(std::min(from, all.size()));
                while (all.end() - at >= kBlock && rms({at, at + kBlock}) < 0.1)
                    at += kBlock;
                if (all.end() - at < kBlock + long(kRate / 4))
                    return false;
                window.assign(at + kBlock, at + kBlock + long(kRate / 4));
                return true;
            },
            5s);
        return window;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<float> samples_;
};

inline std::string pactl(const std::vector<std::string>& arguments) {
    auto result = runProgram("/usr/bin/pactl", arguments, {{"LC_ALL", "C"}});
    if (result.status != 0)
        throw std::runtime_error("pactl failed: " + result.err);
    return result.out;
}

// The server's list of `what` ("sinks", "sink-inputs", "source-outputs", ...); with a `pid`,
// only what that process owns.
inline std::vector<nlohmann::json> pactlList(const std::string& what, int pid = 0) {
    std::vector<nlohmann::json> found;
    for (const auto& entry : nlohmann::json::parse(pactl({"-f", "json", "list", what})))
        if (!pid || entry["properties"].value("application.process.id", "") == std::to_string(pid))
            found.push_back(entry);
    return found;
}

// The name of the sink that process `pid` plays into now (empty when it plays nothing).
inline std::string sinkOfProcess(int pid) {
    for (const auto& input : pactlList("sink-inputs", pid))
        for (const auto& sink : pactlList("sinks"))
            if (sink["index"] == input["sink"])
                return sink["name"];
    return {};
}

// The indexes of the loaded server modules whose line names `text` (a sink's name, say).
inline std::vector<std::string> modulesNaming(const std::string& text) {
    std::vector<std::string> indexes;
    std::istringstream lines(runProgram("/usr/bin/pactl", {"list", "short", "modules"}).out);
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos)
            indexes.push_back(line.substr(0, line.find('\t')));
    return indexes;
}

// Unloads, when it goes, the server's modules that name `text`: one the test loaded, or the
// capture sink a failed run left (its removal sends the moved streams back where they played).
struct UnloadModulesAtEnd {
    std::string text;
    ~UnloadModulesAtEnd() {
        for (const auto& index : modulesNaming(text))
            runProgram("/usr/bin/pactl", {"unload-module", index});
    }
};

// A child process that is killed when the test lets go of it, also when an assertion fails.
struct KillOnDrop {
    void operator()(Process* process) const {
        process->kill();
        delete process;
    }
};
using Child = std::unique_ptr<Process, KillOnDrop>;
inline Child launchChild(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {}) {
    return Child(Process::launch(program, arguments, options).release());
}

inline Child startPaplay(const std::filesystem::path& file,
                         const std::string& sink = "DefaultSink") {
    auto player = launchChild("/usr/bin/paplay", {"--device=" + sink, file.string()});
    if (!waitUntil([&] { return !sinkOfProcess(player->pid()).empty(); }, 5s))
        throw std::runtime_error("paplay did not start playing");
    return player;
}

// Listens to a source in another process (parec) and returns what it heard, mono at 16 kHz:
// an independent ear on what reaches the speakers, on the same server and in the same format
// as the captures, so its level is the reference for theirs.
class MonitorListener {
  public:
    // Returns once the sound flows (a fresh monitor can take two seconds to deliver).
    explicit MonitorListener(const std::string& source = "DefaultSink.monitor") {
        process_ = launchChild("/usr/bin/parec",
                               {"--raw", "--format=float32le", "--rate=16000", "--channels=1",
                                "--latency-msec=20", "--device=" + source, file_.string()});
        if (!waitUntil([&] { return !readFile(file_).empty(); }))
            throw std::runtime_error("parec heard nothing from " + source);
        start_ = readFile(file_).size() / sizeof(float) * sizeof(float);
    }
    // What was heard since construction returned, so far.
    std::vector<float> heard() const {
        const std::string all = readFile(file_);
        std::vector<float> samples((std::max(all.size(), start_) - start_) / sizeof(float));
        if (!samples.empty())
            std::memcpy(samples.data(), all.data() + start_, samples.size() * sizeof(float));
        return samples;
    }
    // Stops listening and returns everything heard.
    std::vector<float> finish() {
        process_->terminate();
        process_->waitForExit();
        return heard();
    }
    // Half a second of what reaches `source`.
    static std::vector<float> listen(const std::string& source = "DefaultSink.monitor") {
        MonitorListener ear(source);
        waitUntil([&] { return ear.heard().size() >= kRate / 2; }, 5s);
        return ear.finish();
    }

  private:
    TempDir dir_;
    std::filesystem::path file_ = dir_ / "heard.raw";
    Child process_;
    std::size_t start_ = 0;
};

// Plays a second of our own voice while `collected` receives a running capture: another
// program hears it on the output, the capture (which goes on delivering) nothing above
// `silence`.
inline void expectOwnVoiceNotCaptured(SampleCollector& collected, double silence) {
    ASSERT_TRUE(collected.waitForSize(kRate / 10));
    const std::size_t before = collected.size();
    MonitorListener speakers;
    audio::PulsePlayback("Tradução falada").play(sineTone(1.0), 22050);
    const auto heard = speakers.finish();
    EXPECT_TRUE(collected.waitForSize(before + kRate * 13 / 10));  // covers our second of sound
    EXPECT_GT(peak(heard), 0.3);
    EXPECT_LT(peak(collected.samples(), before), silence);
}

}  // namespace quenda::test
