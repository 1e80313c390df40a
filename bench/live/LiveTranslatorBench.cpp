// The live translator's own cost, without the servers' time:
//
//   1. per chunk: the loudness gate, the WAV encoding, the inference request body, and the
//      whole way from a delivered chunk to its line with stand-ins that answer at once;
//   2. CPU used while translating silence delivered in real time (20 ms blocks), by the
//      pipeline alone and, on a sound server (PULSE_SERVER set, as under scripts/test's
//      desktop), with the real output-monitor capture while another process plays silence;
//   3. resident memory over minutes of input delivered faster than real time (every chunk is
//      processed: the next one is delivered once the previous line has come out).
//
//   live-translator-bench [silence-seconds=30] [input-minutes=10]

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/SystemAudioCapture.h"
#include "engine/MultipartBody.h"
#include "live/CaptureSourceSystemAudio.h"
#include "live/LiveTranslator.h"
#include "platform/Process.h"

using namespace quenda::live;
using Clock = std::chrono::steady_clock;

namespace {

struct InstantEngine : SpeechEngine {
    void ensureServer(const std::string&) override {}
    std::string transcribe(std::string_view, const std::string&, const std::string&) override {
        return " [BLANK_AUDIO] the quick brown fox jumps over the lazy dog ";
    }
};

struct InstantModel : TranslationModel {
    bool isAvailable() override { return true; }
    std::string translate(const std::string&, std::chrono::seconds) override {
        return "a rápida raposa marrom pula sobre o cão preguiçoso";
    }
};

struct HandFedSource : CaptureSource {
    void start() override {}
    void stop() override {}
};

struct SilentSynthesizer : SpeechSynthesizer {
    void speak(std::string) override {}
    void stopSpeaking() override {}
};

// A translator with stand-ins (and, if given, a real capture); counts its lines.
struct Bench {
    explicit Bench(std::unique_ptr<CaptureSource> capture = nullptr) {
        LiveServices services;
        services.engine = std::make_shared<InstantEngine>();
        services.model = std::make_shared<InstantModel>();
        if (capture) {
            services.monitorCapture = std::move(capture);
        } else {
            auto source = std::make_unique<HandFedSource>();
            feed = source.get();
            services.monitorCapture = std::move(source);
        }
        services.synthesizer = std::make_unique<SilentSynthesizer>();
        services.statusText = [](std::string_view key) { return std::string(key); };
        translator = std::make_unique<LiveTranslator>(std::move(services));
        translator->onText = [this](const std::string&) {
            std::lock_guard lock(mutex);
            ++lines;
            changed.notify_all();
        };
        translator->onStatus = [this](const std::string& text) {
            std::lock_guard lock(mutex);
            if (text == "live.status.active")
                active = true;
            changed.notify_all();
        };
        translator->start("en", "base", true, false);
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return active; });
    }

    void waitForLines(long count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return lines >= count; });
    }

    HandFedSource* feed = nullptr;
    std::unique_ptr<LiveTranslator> translator;
    std::mutex mutex;
    std::condition_variable changed;
    long lines = 0;
    bool active = false;
};

std::vector<float> speechLike(std::size_t count, std::size_t offset) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = 0.1f * static_cast<float>(std::sin(0.07 * static_cast<double>(i + offset)));
    return samples;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double residentMB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

template <typename Work>
double microsecondsPer(int iterations, Work&& work) {
    const auto begin = Clock::now();
    for (int i = 0; i < iterations; ++i)
        work();
    return std::chrono::duration<double, std::micro>(Clock::now() - begin).count() / iterations;
}

}  // namespace

int main(int argc, char** argv) {
    const int silenceSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int inputMinutes = argc > 2 ? std::atoi(argv[2]) : 10;
    const std::size_t chunk = LiveTranslator::chunkSamples;
    const std::size_t block = 320;  // 20 ms at 16 kHz, as the captures deliver

    // ---- 1. per chunk
    const auto loud = speechLike(chunk, 0);
    const std::vector<float> silent(chunk, 0.0f);
    volatile bool sink = false;
    const double gateSilent =
        microsecondsPer(200, [&] { sink = LiveTranslator::isAudible(silent); });
    const double gateLoud = microsecondsPer(200, [&] { sink = LiveTranslator::isAudible(loud); });
    std::string wav;
    const double encode = microsecondsPer(200, [&] { wav = LiveTranslator::wavData(loud, 16000); });
    const double body = microsecondsPer(200, [&] {
        quenda::MultipartBody request("Boundary-00000000-0000-0000-0000-000000000000");
        request.reserve(wav.size() + 1024);
        request.addField("response_format", "json");
        request.addField("temperature", "0.0");
        request.addField("language", "en");
        request.beginFile("file", "audio.wav", "audio/wav");
        request.appendBytes(wav);
        request.finish();
        sink = request.bytes().size() > 0;
    });
    (void)sink;

    double pipeline = 0;
    {
        Bench bench;
        const int chunks = 200;
        const auto begin = Clock::now();
        for (int i = 0; i < chunks; ++i) {
            for (std::size_t at = 0; at < chunk; at += block)
                bench.feed->onSamples(
                    std::vector<float>(loud.begin() + static_cast<long>(at),
                                       loud.begin() + static_cast<long>(at + block)));
            bench.waitForLines(i + 1);
        }
        pipeline = std::chrono::duration<double, std::micro>(Clock::now() - begin).count() / chunks;
    }
    std::printf("per chunk of %zu samples (microseconds):\n", chunk);
    std::printf("  loudness gate, silent chunk     %8.1f\n", gateSilent);
    std::printf("  loudness gate, audible chunk    %8.1f\n", gateLoud);
    std::printf("  WAV encoding (%zu bytes)     %8.1f\n", wav.size(), encode);
    std::printf("  inference request body          %8.1f\n", body);
    std::printf("  whole path, 300 blocks of 20 ms delivered to line out, stand-in servers: %.1f\n",
                pipeline);

    // ---- 2. CPU while translating silence in real time
    {
        Bench bench;
        const std::vector<float> quiet(block, 0.0f);
        const double cpuBefore = cpuSeconds();
        const auto begin = Clock::now();
        auto next = begin;
        const auto end = begin + std::chrono::seconds(silenceSeconds);
        while (Clock::now() < end) {
            bench.feed->onSamples(quiet);
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
        const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
        const double cpu = cpuSeconds() - cpuBefore;
        std::printf(
            "silence in real time for %.0f s: CPU %.3f s = %.3f %% of one core "
            "(includes the 20 ms feeder)\n",
            wall, cpu, 100.0 * cpu / wall);
    }

    if (std::getenv("PULSE_SERVER")) {
        // Another application plays silence, so the monitor delivers a steady stream of zeros.
        auto player = quenda::Process::launch(
            "/bin/sh", {"-c",
                        "exec pacat --raw --format=s16le --rate=48000 --channels=2 "
                        "</dev/zero"});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Bench bench(std::make_unique<CaptureSourceSystemAudio>(
            quenda::audio::SystemAudioCapture::create()));
        std::this_thread::sleep_for(std::chrono::seconds(2));  // past the first delivery
        const double cpuBefore = cpuSeconds();
        const auto begin = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(silenceSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
        const double cpu = cpuSeconds() - cpuBefore;
        std::printf(
            "silence through the real monitor capture for %.0f s: CPU %.3f s = %.3f %% of "
            "one core (capture and pipeline)\n",
            wall, cpu, 100.0 * cpu / wall);
        player->kill();
    }

    // ---- 3. memory over minutes of input, faster than real time
    {
        Bench bench;
        const std::size_t chunksPerMinute = 10;
        std::printf(
            "resident memory, %d minutes of input (alternately audible and silent "
            "chunks, fed faster than real time):\n  minute 0: %.1f MB\n",
            inputMinutes, residentMB());
        long expected = 0;
        std::size_t offset = 0;
        const auto begin = Clock::now();
        for (int minute = 1; minute <= inputMinutes; ++minute) {
            for (std::size_t c = 0; c < chunksPerMinute; ++c) {
                const bool audible = c % 2 == 0;
                for (std::size_t at = 0; at < chunk; at += block, offset += block)
                    bench.feed->onSamples(audible ? speechLike(block, offset)
                                                  : std::vector<float>(block, 0.0f));
                if (audible)
                    bench.waitForLines(++expected);
            }
            std::printf("  minute %d: %.1f MB\n", minute, residentMB());
        }
        std::printf("  (%ld lines, fed in %.1f s)\n", expected,
                    std::chrono::duration<double>(Clock::now() - begin).count());
    }
    return 0;
}
