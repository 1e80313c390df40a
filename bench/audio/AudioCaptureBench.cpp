// Cost and delay of the audio sources against a running sound server.
//
//   audio-capture-bench [--seconds N]      (default 60)
//
// Needs a PulseAudio server (PULSE_SERVER); for the test desktop:
//   source scripts/lib/test-desktop.sh && start_test_desktop &&
//   build/ci/bench/audio/audio-capture-bench
//
// 1. CPU time: while another program (paplay) plays a tone, each source captures for N seconds;
//    the figure is this process's user + system CPU time over the wall time, in % of one core.
//    The sound server's own CPU over the same time is shown beside it (it resamples for us and
//    also plays the tone), with a baseline run of the tone alone.
// 2. Delay: a player that presents itself as another application keeps a low-latency stream
//    running and, 30 times per source, writes a 100 ms tone burst into it; the delay is the
//    time from handing the burst to the sound server to the first delivered block that carries
//    it (median and 95th percentile). It includes the player's own buffer (about 10 ms).
#include "BenchFigures.h"
#include "audio/ProcessTapCapture.h"
#include "audio/PulseConnection.h"
#include "audio/Recorder.h"
#include "audio/SystemAudioCapture.h"
#include "audio/WavFileWriter.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace quenda;
using namespace quenda::audio;
using Clock = std::chrono::steady_clock;

namespace {

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The sound server's CPU seconds, from its pid file beside its socket (0 when unknown).
double serverCpuSeconds() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime)
        return 0;
    std::ifstream pidFile(std::string(runtime) + "/pulse/pid");
    int pid = 0;
    if (!(pidFile >> pid))
        return 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = close + 2; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += line[i];
        }
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    if (fields.size() < 13)
        return 0;
    return (std::stod(fields[11]) + std::stod(fields[12])) / double(sysconf(_SC_CLK_TCK));
}

std::filesystem::path writeTone(double seconds) {
    const auto path =
        paths::temporaryDirectory() / ("quenda-bench-tone-" + std::to_string(getpid()) + ".wav");
    const uint32_t rate = 44100;
    std::vector<int16_t> pcm(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440 * double(i) / rate));
    WavFileWriter writer(path, rate, 1);
    writer.append(pcm.data(), pcm.size() * sizeof(int16_t));
    writer.finish();
    return path;
}

struct CpuFigure {
    double ownPercent;
    double serverPercent;
};

CpuFigure measureCpu(const std::filesystem::path& tone, double seconds,
                     const std::function<void()>& begin, const std::function<void()>& end) {
    auto player = Process::launch("/usr/bin/paplay", {tone.string()});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    begin();
    const double cpu0 = processCpuSeconds(), server0 = serverCpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = processCpuSeconds() - cpu0, server = serverCpuSeconds() - server0;
    end();
    player->kill();
    player->waitForExit();
    return {100 * cpu / wall, 100 * server / wall};
}

// A playback stream that the captures take for another application's: its client claims a
// process id that is not ours. It plays silence until asked for a burst.
class BurstPlayer {
  public:
    BurstPlayer() {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_ID, "1");
        connection_ = std::make_unique<PulseConnection>("Quenda bench player", properties);
        pa_proplist_free(properties);
        PulseConnection::Lock lock(*connection_);
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 16000, 1};
        stream_ = pa_stream_new(connection_->context(), "bench burst", &format, nullptr);
        pa_stream_set_write_callback(stream_, &BurstPlayer::onWrite, this);
        pa_stream_set_state_callback(
            stream_, [](pa_stream*, void* c) { static_cast<PulseConnection*>(c)->wakeWaiters(); },
            connection_.get());
        pa_buffer_attr buffering{};
        buffering.maxlength = static_cast<uint32_t>(-1);
        buffering.tlength = 160 * sizeof(float);  // 10 ms
        buffering.prebuf = static_cast<uint32_t>(-1);
        buffering.minreq = static_cast<uint32_t>(-1);
        buffering.fragsize = static_cast<uint32_t>(-1);
        pa_stream_connect_playback(stream_, nullptr, &buffering, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr);
        while (pa_stream_get_state(stream_) != PA_STREAM_READY)
            connection_->wait();
    }

    ~BurstPlayer() {
        PulseConnection::Lock lock(*connection_);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }

    // Asks for a burst; its time of writing is burstTime() once written.
    void burst() {
        burstWritten_ = false;
        burstWanted_ = true;
    }
    bool burstWritten() const { return burstWritten_; }
    Clock::time_point burstTime() const {
        return Clock::time_point(Clock::duration(burstAt_.load()));
    }

  private:
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self) {
        auto* player = static_cast<BurstPlayer*>(self);
        std::vector<float> samples(bytes / sizeof(float), 0.0f);
        if (player->burstWanted_.exchange(false)) {
            samples.resize(std::max<std::size_t>(samples.size(), 1600));  // 100 ms
            for (std::size_t i = 0; i < 1600; ++i)
                samples[i] = float(0.5 * std::sin(2 * M_PI * 440 * double(i) / 16000));
            player->burstAt_ = Clock::now().time_since_epoch().count();
            player->burstWritten_ = true;
        }
        pa_stream_write(stream, samples.data(), samples.size() * sizeof(float), nullptr, 0,
                        PA_SEEK_RELATIVE);
    }

    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> burstWanted_{false};
    std::atomic<bool> burstWritten_{false};
    std::atomic<Clock::rep> burstAt_{0};
};

// Runs 30 bursts through a capture whose blocks go to `loudAt` and returns the delays in ms.
std::vector<double> measureDelays(BurstPlayer& player, std::atomic<Clock::rep>& loudAt) {
    std::vector<double> delays;
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        loudAt = 0;
        player.burst();
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while ((!player.burstWritten() || loudAt.load() == 0) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!player.burstWritten() || loudAt.load() == 0)
            continue;
        const auto heard = Clock::time_point(Clock::duration(loudAt.load()));
        delays.push_back(
            std::chrono::duration<double, std::milli>(heard - player.burstTime()).count());
    }
    return delays;
}

void printDelays(const char* source, const std::vector<double>& delays) {
    if (delays.empty()) {
        std::printf("%-22s delay: no burst was heard\n", source);
        return;
    }
    std::printf("%-22s delay: median %.1f ms, p95 %.1f ms (%zu bursts)\n", source,
                bench::percentile(delays, 0.5), bench::percentile(delays, 0.95), delays.size());
}

// A block callback that notes when the first loud block after a reset arrives.
std::function<void(std::vector<float>)> loudnessWatch(std::atomic<Clock::rep>& loudAt) {
    return [&loudAt](std::vector<float> block) {
        float peak = 0;
        for (float sample : block)
            peak = std::max(peak, std::fabs(sample));
        if (peak > 0.1f && loudAt.load() == 0)
            loudAt = Clock::now().time_since_epoch().count();
    };
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
    }
    try {
        const auto tone = writeTone(seconds + 10);
        std::printf("CPU over %.0f s of capture while another program plays a tone:\n", seconds);

        const auto baseline = measureCpu(
            tone, seconds, [] {}, [] {});
        std::printf("%-22s this process %.2f %% of a core, sound server %.2f %%\n", "(no capture)",
                    baseline.ownPercent, baseline.serverPercent);

        auto recorder = Recorder::create();
        const auto recording = measureCpu(
            tone, seconds, [&] { recorder->start(); },
            [&] {
                if (auto file = recorder->stop())
                    std::filesystem::remove(*file);
            });
        std::printf("%-22s this process %.2f %% of a core, sound server %.2f %%\n", "Recorder",
                    recording.ownPercent, recording.serverPercent);

        std::atomic<Clock::rep> loudAt{0};
        auto system = SystemAudioCapture::create();
        system->onSamples = loudnessWatch(loudAt);
        const auto systemCpu = measureCpu(
            tone, seconds, [&] { system->start(); }, [&] { system->stop(); });
        std::printf("%-22s this process %.2f %% of a core, sound server %.2f %%\n",
                    "SystemAudioCapture", systemCpu.ownPercent, systemCpu.serverPercent);

        auto tap = ProcessTapCapture::create();
        tap->onSamples = loudnessWatch(loudAt);
        const auto tapCpu = measureCpu(
            tone, seconds, [&] { tap->start(true); }, [&] { tap->stop(); });
        std::printf("%-22s this process %.2f %% of a core, sound server %.2f %%\n",
                    "ProcessTapCapture", tapCpu.ownPercent, tapCpu.serverPercent);
        std::filesystem::remove(tone);

        std::printf("Delay from a sound played to its first delivered samples:\n");
        BurstPlayer player;
        system->start();
        std::this_thread::sleep_for(std::chrono::seconds(3));  // a fresh monitor starts late
        printDelays("SystemAudioCapture", measureDelays(player, loudAt));
        system->stop();

        tap->start(true);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        printDelays("ProcessTapCapture", measureDelays(player, loudAt));
        tap->stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "audio-capture-bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
