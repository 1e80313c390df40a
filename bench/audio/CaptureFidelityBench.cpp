// How faithfully each audio source delivers another application's sound, on whatever sound
// server runs (PulseAudio, or PipeWire through pipewire-pulse).
//
//   capture-fidelity-bench [--seconds N] [--dump DIR]      (default 4 s; no dump)
//
// Needs a sound server (PULSE_SERVER) whose default sink is "DefaultSink"; for the test
// desktop: scripts/lib/private-network bash -c 'source scripts/lib/test-desktop.sh &&
// start_test_desktop pipewire && build/ci/bench/audio/capture-fidelity-bench'
//
// paplay plays a 440 Hz sine of amplitude 0.5 (44.1 kHz stereo, both channels alike) while
// each source captures it; for each it prints:
// - level: the tone's rms, and its ratio to what parec, another program, hears from the same
//   monitor in the same format (mono 16 kHz) — the sound server's own channel mixing;
// - rate: samples delivered per second of wall time, from the first block to the last one
//   before the stop;
// - breaks: samples where the tone does not continue smoothly (a dropped, repeated or zeroed
//   piece of signal), found with the sine recurrence x[n+1] = 2cos(w)x[n] - x[n-1];
// - frequency: lowest and highest over 250 ms windows of the steady tone (zero crossings);
// - onset: how the tone begins (from the first loud 20 ms block: its ramp), and what a test
//   that waits until "the last quarter second is louder than 0.2 rms" sees at that moment.
// With --dump, each capture is also written to DIR as <n>.f32 (raw mono float32, 16 kHz) and
// <n>.arrivals (per block: milliseconds since the first block, samples so far).
#include "audio/ProcessTapCapture.h"
#include "audio/Recorder.h"
#include "audio/SystemAudioCapture.h"
#include "audio/WavFileWriter.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/WavHeader.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace quenda;
using namespace quenda::audio;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kRate = 16000;
constexpr std::size_t kQuarter = 4000;
constexpr std::size_t kBlock = 320;  // 20 ms

std::string readAll(const std::filesystem::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

std::filesystem::path writeTone(double seconds) {
    const auto path =
        paths::temporaryDirectory() / ("quenda-fidelity-tone-" + std::to_string(getpid()) + ".wav");
    const uint32_t rate = 44100;
    std::vector<int16_t> pcm(2 * static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < pcm.size() / 2; ++i)
        pcm[2 * i] = pcm[2 * i + 1] =
            static_cast<int16_t>(16384 * std::sin(2 * M_PI * 440 * double(i) / rate));
    WavFileWriter writer(path, rate, 2);
    writer.append(pcm.data(), pcm.size() * sizeof(int16_t));
    writer.finish();
    return path;
}

double rms(const float* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return count ? std::sqrt(sum / double(count)) : 0;
}

double frequency(const float* samples, std::size_t count) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < count; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return double(crossings) / 2.0 * kRate / double(count);
}

// What a source delivered: the samples, and how many there were when each block arrived.
struct Capture {
    std::vector<float> samples;
    std::vector<std::pair<Clock::time_point, std::size_t>> arrivals;
    Clock::time_point stopping = Clock::time_point::max();  // when the stop was asked for
    std::mutex mutex;

    std::function<void(std::vector<float>)> sink() {
        return [this](std::vector<float> block) {
            std::lock_guard lock(mutex);
            samples.insert(samples.end(), block.begin(), block.end());
            arrivals.emplace_back(Clock::now(), samples.size());
        };
    }
};

// parec, another program, listening to a monitor at 16 kHz from construction to finish(): an
// independent ear on the same sound. It asks for 100 ms fragments, so that on PipeWire it does
// not shorten the graph's cycle below what the source under test asks for.
class Ear {
  public:
    explicit Ear(int channels = 1, const std::string& source = "DefaultSink.monitor") {
        process_ = Process::launch("/usr/bin/parec",
                                   {"--raw", "--format=float32le", "--rate=16000",
                                    "--channels=" + std::to_string(channels), "--latency-msec=100",
                                    "--device=" + source, file_.string()});
    }
    std::vector<float> finish() {
        process_->terminate();
        process_->waitForExit();
        const auto bytes = readAll(file_);
        std::filesystem::remove(file_);
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

  private:
    static inline int count_ = 0;
    std::filesystem::path file_ =
        paths::temporaryDirectory() /
        ("quenda-fidelity-" + std::to_string(getpid()) + "-" + std::to_string(++count_) + ".raw");
    std::unique_ptr<Process> process_;
};

// The first sample of the first 20 ms block louder than 0.1 rms (x.size() when none is).
std::size_t onsetOf(const std::vector<float>& x) {
    std::size_t onset = 0;
    while (onset + kBlock <= x.size() && rms(&x[onset], kBlock) < 0.1)
        onset += kBlock;
    return onset + kBlock <= x.size() ? onset : x.size();
}

// Breaks in the steady tone from `from` on: where the sine recurrence fails by more than a
// tenth of the tone's amplitude. Returns their count and the times of the first few.
std::pair<std::size_t, std::string> breaksOf(const std::vector<float>& x, std::size_t from,
                                             double level) {
    const double c = 2 * std::cos(2 * M_PI * 440 / kRate);
    std::size_t count = 0;
    std::string where;
    for (std::size_t n = std::max<std::size_t>(from, 1); n + 1 < x.size(); ++n) {
        if (std::fabs(x[n + 1] - c * x[n] + x[n - 1]) <= 0.1 * level * std::sqrt(2.0))
            continue;
        if (count++ < 4)
            where += (where.empty() ? " at " : ", ") + std::to_string(double(n) / kRate) + " s";
        n += kBlock;  // one break, not each of its samples
    }
    return {count, where};
}

double referenceLevel = 0;
std::filesystem::path dumpDir;

void dump(const Capture& capture) {
    static int count = 0;
    if (dumpDir.empty())
        return;
    const auto base = dumpDir / std::to_string(++count);
    std::ofstream(base.string() + ".f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(capture.samples.data()),
               std::streamsize(capture.samples.size() * sizeof(float)));
    std::ofstream arrivals(base.string() + ".arrivals");
    for (const auto& [time, samples] : capture.arrivals)
        arrivals
            << std::chrono::duration<double, std::milli>(time - capture.arrivals[0].first).count()
            << ' ' << samples << '\n';
}

void report(const char* source, const Capture& capture, const std::vector<float>& heard) {
    const auto& x = capture.samples;
    std::printf("%s\n", source);
    dump(capture);
    const std::size_t onset = onsetOf(x);
    if (onset + 2 * kQuarter > x.size()) {
        std::printf("  no steady tone (%zu samples)\n", x.size());
        return;
    }
    const std::size_t steady = onset + kQuarter;  // past the onset
    const double level = rms(&x[steady], x.size() - steady);
    std::printf("  level: rms %.3f (%.2f × parec's mono, %+.2f dB)\n", level,
                level / referenceLevel, 20 * std::log10(level / referenceLevel));

    // Up to the stop: the blocks that come while a capture is being taken down come late.
    std::vector<std::pair<Clock::time_point, std::size_t>> running;
    for (const auto& arrival : capture.arrivals) {
        if (arrival.first < capture.stopping)
            running.push_back(arrival);
    }
    if (running.size() > 2) {
        const auto& [t0, n0] = running.front();
        const auto& [t1, n1] = running.back();
        const double wall = std::chrono::duration<double>(t1 - t0).count();
        std::printf("  rate: %.1f samples/s over %.2f s (%zu blocks)\n", double(n1 - n0) / wall,
                    wall, running.size());
    }

    const auto [breaks, where] = breaksOf(x, steady, level);
    const std::size_t heardOnset = onsetOf(heard);
    const auto [heardBreaks, heardWhere] =
        heardOnset < heard.size() ? breaksOf(heard, heardOnset + kQuarter, level)
                                  : std::pair<std::size_t, std::string>{0, " (heard no tone)"};
    std::printf("  breaks in %.2f s of steady tone: %zu%s; parec meanwhile: %zu in %.2f s%s\n",
                double(x.size() - steady) / kRate, breaks, where.c_str(), heardBreaks,
                double(heard.size() - std::min(heard.size(), heardOnset + kQuarter)) / kRate,
                heardWhere.c_str());

    double low = 1e9, high = 0;
    for (std::size_t at = steady; at + kQuarter <= x.size(); at += kQuarter) {
        const double f = frequency(&x[at], kQuarter);
        low = std::min(low, f);
        high = std::max(high, f);
    }
    std::printf("  frequency: %.0f to %.0f Hz over 250 ms windows\n", low, high);

    std::printf("  onset at %.3f s; rms of its 20 ms blocks:", double(onset) / kRate);
    for (std::size_t at = onset >= 2 * kBlock ? onset - 2 * kBlock : 0;
         at < onset + 6 * kBlock && at + kBlock <= x.size(); at += kBlock)
        std::printf(" %.2f", rms(&x[at], kBlock));
    std::printf("\n");
    for (const auto& [time, count] : capture.arrivals) {
        if (count >= kQuarter && rms(&x[count - kQuarter], kQuarter) > 0.2) {
            std::printf(
                "  a test waiting for a loud last quarter second sees: rms %.2f, %.0f Hz, "
                "%.0f %% of it before the onset\n",
                rms(&x[count - kQuarter], kQuarter), frequency(&x[count - kQuarter], kQuarter),
                100.0 * double(onset > count - kQuarter ? onset - (count - kQuarter) : 0) /
                    kQuarter);
            break;
        }
    }
}

std::unique_ptr<Process> play(const std::filesystem::path& tone) {
    return Process::launch("/usr/bin/paplay", {"--device=DefaultSink", tone.string()});
}

// Runs one source between `begin` and `end` while parec listens to `monitor` too, and reports
// both.
template <typename Begin, typename End>
void measure(const char* source, const std::string& monitor, double seconds, Begin begin, End end) {
    Capture capture;
    begin(capture);
    Ear ear(1, monitor);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    capture.stopping = Clock::now();
    end(capture);
    report(source, capture, ear.finish());
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 4;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--dump") == 0)
            dumpDir = argv[i + 1];
    }
    try {
        const auto tone = writeTone(6 * seconds + 20);
        auto player = play(tone);
        {
            Ear mono, stereo(2);
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            const auto one = mono.finish(), two = stereo.finish();
            referenceLevel = rms(one.data() + one.size() / 2, one.size() / 2);
            std::vector<float> left;
            for (std::size_t i = two.size() / 2; i + 1 < two.size(); i += 2)
                left.push_back(two[i]);
            std::printf(
                "parec, another program: mono rms %.3f; stereo left channel rms %.3f "
                "(the tone played: amplitude 0.5, rms 0.354)\n",
                referenceLevel, rms(left.data(), left.size()));
        }

        auto recorder = Recorder::create();
        measure(
            "Recorder (16-bit file)", "DefaultSink.monitor", seconds,
            [&](Capture&) { recorder->start(); },
            [&](Capture& capture) {
                const auto file = recorder->stop();
                const auto bytes = readAll(*file);
                std::filesystem::remove(*file);
                for (std::size_t at = kWavHeaderBytes; at + 2 <= bytes.size(); at += 2) {
                    int16_t sample;
                    std::memcpy(&sample, bytes.data() + at, 2);
                    capture.samples.push_back(sample / 32768.0f);
                }
            });
        auto system = SystemAudioCapture::create();
        measure(
            "SystemAudioCapture", "DefaultSink.monitor", seconds,
            [&](Capture& capture) {
                system->onSamples = capture.sink();
                system->start();
            },
            [&](Capture&) { system->stop(); });
        auto tap = ProcessTapCapture::create();
        measure(
            "ProcessTapCapture, muted, a stream that played before the start",
            "Quenda-Capture.monitor", seconds,
            [&](Capture& capture) {
                tap->onSamples = capture.sink();
                tap->start(true);
            },
            [&](Capture&) { tap->stop(); });
        player->kill();
        player->waitForExit();
        measure(
            "ProcessTapCapture, audible, a stream that starts during the capture",
            "Quenda-Capture.monitor", seconds,
            [&](Capture& capture) {
                tap->onSamples = capture.sink();
                tap->start(false);
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                player = play(tone);
            },
            [&](Capture&) { tap->stop(); });
        player->kill();
        player->waitForExit();
        std::filesystem::remove(tone);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "capture-fidelity-bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
