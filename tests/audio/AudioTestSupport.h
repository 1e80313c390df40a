#pragma once

#include "platform/Process.h"
#include "support/TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quenda::test {

// Writes a 16-bit mono WAV file holding a sine tone.
void writeToneWav(const std::filesystem::path& path, double frequency, double seconds,
                  uint32_t sampleRate = 44100, double amplitude = 0.5);

std::vector<float> sineTone(double frequency, double seconds, uint32_t sampleRate,
                            double amplitude = 0.5);

struct WavContents {
    uint16_t format = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    std::uintmax_t fileSize = 0;
    std::vector<float> samples;  // 16-bit PCM scaled to −1…1 (first channel)
};
// Reads a WAV file (RIFF chunks in any order); nothing when it is not one.
std::optional<WavContents> readWav(const std::filesystem::path& path);

double rms(const std::vector<float>& samples, std::size_t from = 0, std::size_t count = SIZE_MAX);
float peak(const std::vector<float>& samples, std::size_t from = 0, std::size_t count = SIZE_MAX);
// The frequency of a clean tone from its zero crossings, at `sampleRate`.
double toneFrequency(const std::vector<float>& samples, uint32_t sampleRate);

// Gathers the blocks a capture delivers, from its delivery thread.
class SampleCollector {
  public:
    // A callback for onSamples that appends here.
    auto sink() {
        return [this](std::vector<float> block) { append(block); };
    }
    void append(const std::vector<float>& block);
    std::size_t size() const;
    std::vector<float> samples() const;
    std::size_t threadCount() const;
    // Waits until at least `count` samples have arrived.
    bool waitForSize(std::size_t count, std::chrono::milliseconds timeout);
    // Waits until the last `window` samples are louder than `level` (rms).
    bool waitForSound(double level, std::size_t window, std::chrono::milliseconds timeout);

  private:
    mutable std::mutex mutex_;
    std::condition_variable grown_;
    std::vector<float> samples_;
    std::set<std::thread::id> threads_;
};

// A program of the sound server's tool set, run to completion with its output in C locale.
std::string pactl(const std::vector<std::string>& arguments);

// Plays a file with paplay (optionally into a given sink) until it ends or the handle dies.
std::unique_ptr<Process> startPaplay(const std::filesystem::path& file,
                                     const std::string& sink = "");

struct SinkInputSeen {
    uint32_t index = 0;
    uint32_t sink = 0;
    int processId = 0;
};
std::vector<SinkInputSeen> sinkInputsSeen();
// The sink-input that process `pid` plays, once it exists.
std::optional<SinkInputSeen> waitForSinkInputOf(int pid, std::chrono::milliseconds timeout);
// The index of the sink with that name, if there is one.
std::optional<uint32_t> sinkIndex(const std::string& name);
// The name of the sink that process `pid` plays into now (empty when none).
std::string sinkOfProcess(int pid);
bool moduleLoadedWith(const std::string& argumentPart);
// Has the server end a record stream, as it does when a device goes away.
void killSourceOutput(uint32_t index);

// Listens to a source in another process (parec) and returns what it heard, mono float at
// 16 kHz: an independent ear on what reaches the speakers.
class MonitorListener {
  public:
    // Returns once the sound is flowing (a fresh monitor can take two seconds to deliver).
    explicit MonitorListener(const std::string& source = "DefaultSink.monitor");
    // Stops listening and returns what was heard since construction returned.
    std::vector<float> finish();

  private:
    TempDir dir_;
    std::unique_ptr<Process> process_;
    std::uintmax_t start_ = 0;
};

void sleepFor(std::chrono::milliseconds duration);

}  // namespace quenda::test
