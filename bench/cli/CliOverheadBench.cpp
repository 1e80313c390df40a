// The command line's overhead: "quenda --cli transcribe" on a 1-minute and a 10-minute WAV
// (44.1 kHz stereo) against the fake whisper-server answering at once, side by side with the
// least work that does the same job: start a fresh fake server, one ffmpeg conversion, one
// multipart POST with curl, stop the server (quenda starts and stops its own server in every
// run, so both sides pay for one). Prints wall times, their ratio and peak memory, then both
// sides' steps one by one: quenda's timed in this process with the engine's own parts
// (server start, conversion, body, request, server stop), the baseline's as it ran them.
//
//   bench-cli [repetitions [quenda]]   (run it with scripts/lib/private-network: quenda uses
//                                      8642; `quenda` measures another build's executable)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "BenchFigures.h"
#include "FakeServers.h"
#include "TestAudio.h"
#include "engine/MultipartBody.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "platform/LoopbackPorts.h"
#include "platform/Process.h"
#include "platform/TemporaryFile.h"
#include "support/TestSupport.h"

namespace {

using namespace quenda;
using Clock = std::chrono::steady_clock;
using bench::median;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the process and every child it waited for
    double peakMB = 0;      // the peak resident size of the process
    int status = 0;
};

double highWaterMB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// The user + system time of this process's children that have ended and been waited for.
double childrenCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](timeval time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs one program to its end, watching its peak resident size (VmHWM) while it runs.
Run runWatched(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment = {}) {
    ProcessOptions options;
    options.environment = environment;
    const double cpuBefore = childrenCpuSeconds();
    const auto start = Clock::now();
    auto process = Process::launch(program, arguments, options);
    Run run;
    while (!process->waitForExit(std::chrono::milliseconds(5))) {
        run.peakMB = std::max(run.peakMB, highWaterMB(process->pid()));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.status = *process->exitStatus();
    run.cpuSeconds = childrenCpuSeconds() - cpuBefore;
    return run;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One run of the least work that does the same job as "quenda --cli transcribe": start a
// fresh fake server and wait until it answers (asking every 5 ms), convert with ffmpeg, post
// with curl, stop the server. Quenda starts a fresh server in every run too, so both sides pay
// for one.
struct Baseline {
    double start = 0, ffmpeg = 0, curl = 0, stop = 0, total = 0, cpuSeconds = 0;
    double ffmpegPeak = 0, curlPeak = 0;
};
Baseline runBaseline(const std::filesystem::path& input, const std::filesystem::path& model,
                     const std::filesystem::path& converted) {
    Baseline run;
    const double cpuBefore = childrenCpuSeconds();
    const auto begin = Clock::now();
    const uint16_t port = findFreeLoopbackPort().value_or(18642);
    auto server = Process::launch(
        QUENDA_FAKE_WHISPER_SERVER,
        {"-m", model.string(), "-l", "pt", "--port", std::to_string(port), "--host", "127.0.0.1"});
    while (!TranscriptionEngine::ping(port, std::chrono::milliseconds(1000))) {
        if (server->waitForExit(std::chrono::milliseconds(5)))
            throw std::runtime_error("the fake server did not start");
    }
    run.start = since(begin);
    Run ffmpeg =
        runWatched("/usr/bin/ffmpeg", {"-y", "-v", "error", "-i", input.string(), "-ar", "16000",
                                       "-ac", "1", "-c:a", "pcm_s16le", converted.string()});
    Run curl = runWatched("/usr/bin/curl",
                          {"-sf", "-o", "/dev/null", "-H", "Expect:", "-F", "response_format=json",
                           "-F", "temperature=0.0", "-F", "language=pt", "-F",
                           "file=@" + converted.string() + ";filename=audio.wav;type=audio/wav",
                           "http://127.0.0.1:" + std::to_string(port) + "/inference"});
    const auto stopping = Clock::now();
    server->terminate();
    server->waitForExit();
    run.stop = since(stopping);
    run.total = since(begin);
    run.cpuSeconds = childrenCpuSeconds() - cpuBefore;
    std::filesystem::remove(converted);
    if (ffmpeg.status != 0 || curl.status != 0)
        throw std::runtime_error("the baseline failed (ffmpeg " + std::to_string(ffmpeg.status) +
                                 ", curl " + std::to_string(curl.status) + ")");
    run.ffmpeg = ffmpeg.seconds;
    run.curl = curl.seconds;
    run.ffmpegPeak = ffmpeg.peakMB;
    run.curlPeak = curl.peakMB;
    return run;
}

// Quenda's steps for one file, each timed in this process with the engine's own parts: the
// server start, the conversion, building the request body (the file is only opened), the
// request (reading the file while it is uploaded, and the answer), the server stop.
struct Split {
    double start = 0, conversion = 0, body = 0, request = 0, stop = 0;
};
Split timeSteps(const std::filesystem::path& input) {
    Split split;
    ServerSettings settings;
    settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
    TranscriptionEngine engine(settings);
    auto start = Clock::now();
    engine.ensureServer("base");
    split.start = since(start);
    start = Clock::now();
    MultipartBody body("Boundary-bench");
    {
        TemporaryFile wav = TranscriptionEngine::normalize(input);
        split.conversion = since(start);
        start = Clock::now();
        body.addField("response_format", "json");
        body.addField("temperature", "0.0");
        body.addField("language", "pt");
        body.beginFile("file", "audio.wav", "audio/wav");
        body.appendFileContents(wav.path());
        body.finish();
    }
    split.body = since(start);
    start = Clock::now();
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(engine.serverPort()) + "/inference";
    request.headers = {{"Content-Type", body.contentType()}};
    request.bodySize = body.size();
    request.readBody = [&body](uint64_t offset, std::span<char> buffer) {
        return body.read(offset, buffer);
    };
    if (Http::send(request).status != 200)
        throw std::runtime_error("the fake server did not answer 200");
    split.request = since(start);
    start = Clock::now();
    engine.stopServer();
    split.stop = since(start);
    return split;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::printf("load average (1, 5, 15 min) before: %s\n", loadAverage().c_str());
    test::TempDir dir;
    const auto quenda = test::installQuendaWithFakeServer(dir / "install");
    if (argc > 2) {
        std::filesystem::copy_file(argv[2], quenda,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const auto models = dir / "models";
    const auto model = models / "ggml-base.bin";
    test::writeFakeModel(model, {"text ok"});
    std::filesystem::create_directories(dir / "tmp");
    const std::map<std::string, std::string> environment = {
        {"HOME", (dir / "home").string()},
        {"XDG_DATA_HOME", (dir / "data").string()},
        {"QUENDA_MODELS_DIR", models.string()},
        {"TMPDIR", (dir / "tmp").string()}};
    test::ScopedEnv modelsDir("QUENDA_MODELS_DIR", models.string());
    test::ScopedEnv tmpDir("TMPDIR", (dir / "tmp").string());

    std::printf("%-8s %9s %11s %6s | %8s %10s %6s | %12s %12s %12s\n", "audio", "quenda s",
                "baseline s", "ratio", "quenda", "baseline", "ratio", "quenda peak", "ffmpeg peak",
                "curl peak");
    std::printf("%-8s %28s | %26s |\n", "", "wall time", "cpu time (user + system)");
    struct SplitRow {
        int minutes;
        Split quenda;
        Baseline baseline;
        double total;
    };
    std::vector<SplitRow> splits;
    for (int minutes : {1, 10}) {
        const auto input = dir / ("audio-" + std::to_string(minutes) + "min.wav");
        test::makeTone(input, minutes * 60.0, 44100, 2);
        const auto converted = dir / "baseline.wav";

        std::vector<double> quendaTimes, baselineTimes, quendaCpu, baselineCpu;
        std::vector<Split> steps;
        std::vector<Baseline> baselines;
        double quendaPeak = 0, ffmpegPeak = 0, curlPeak = 0;
        for (int i = 0; i < repetitions; ++i) {
            Run cli = runWatched(quenda, {"--cli", "transcribe", "--model", "base", input.string()},
                                 environment);
            if (cli.status != 0) {
                std::fprintf(stderr, "quenda failed (%d)\n", cli.status);
                return 1;
            }
            const Baseline baseline = runBaseline(input, model, converted);
            steps.push_back(timeSteps(input));
            baselines.push_back(baseline);
            quendaTimes.push_back(cli.seconds);
            baselineTimes.push_back(baseline.total);
            quendaCpu.push_back(cli.cpuSeconds);
            baselineCpu.push_back(baseline.cpuSeconds);
            quendaPeak = std::max(quendaPeak, cli.peakMB);
            ffmpegPeak = std::max(ffmpegPeak, baseline.ffmpegPeak);
            curlPeak = std::max(curlPeak, baseline.curlPeak);
        }
        const double q = median(quendaTimes), b = median(baselineTimes);
        const double qCpu = median(quendaCpu), bCpu = median(baselineCpu);
        std::printf("%-8s %9.3f %11.3f %6.2f | %8.3f %10.3f %6.2f | %9.1f MB %9.1f MB %9.1f MB\n",
                    (std::to_string(minutes) + " min").c_str(), q, b, q / b, qCpu, bCpu,
                    qCpu / bCpu, quendaPeak, ffmpegPeak, curlPeak);
        auto medianOf = [](const auto& runs, auto field) {
            std::vector<double> values;
            for (const auto& run : runs)
                values.push_back(run.*field);
            return median(values);
        };
        splits.push_back(
            {minutes,
             {medianOf(steps, &Split::start), medianOf(steps, &Split::conversion),
              medianOf(steps, &Split::body), medianOf(steps, &Split::request),
              medianOf(steps, &Split::stop)},
             {medianOf(baselines, &Baseline::start), medianOf(baselines, &Baseline::ffmpeg),
              medianOf(baselines, &Baseline::curl), medianOf(baselines, &Baseline::stop), b},
             q});
    }
    // Where the time goes: quenda's steps timed in this process, beside the baseline's. The
    // rest of quenda's time is its own start (loading its libraries) and exit.
    std::printf("%-8s %-11s %7s %11s %6s %8s %6s | %6s %6s\n", "split", "", "server", "conversion",
                "body", "request", "stop", "steps", "rest");
    for (const auto& row : splits) {
        const auto& q = row.quenda;
        const double steps = q.start + q.conversion + q.body + q.request + q.stop;
        std::printf("%-8s %-11s %7.3f %11.3f %6.3f %8.3f %6.3f | %6.3f %6.3f\n",
                    (std::to_string(row.minutes) + " min").c_str(), "quenda", q.start, q.conversion,
                    q.body, q.request, q.stop, steps, row.total - steps);
        const auto& b = row.baseline;
        std::printf("%-8s %-11s %7.3f %11.3f %6s %8.3f %6.3f | %6.3f\n", "", "ffmpeg+curl", b.start,
                    b.ffmpeg, "", b.curl, b.stop, b.total);
    }
    // The programs' own start and exit, doing no work: most of quenda's "rest" above, next to
    // what curl and ffmpeg pay for theirs inside the baseline's figures.
    std::printf("%-8s", "start");
    const std::pair<std::filesystem::path, std::vector<std::string>> bare[] = {
        {quenda, {"--cli"}}, {"/usr/bin/curl", {"--version"}}, {"/usr/bin/ffmpeg", {"-version"}}};
    for (const auto& [program, arguments] : bare) {
        std::vector<double> wall, cpu;
        for (int i = 0; i < repetitions; ++i) {
            const Run run = runWatched(program, arguments, environment);
            wall.push_back(run.seconds);
            cpu.push_back(run.cpuSeconds);
        }
        std::printf("  %s %.3f s (cpu %.3f s)", program.filename().c_str(), median(wall),
                    median(cpu));
    }
    std::printf("\n");
    std::printf(
        "(medians of %d runs; both sides start a fresh fake server per run; the baseline's "
        "conversion is the ffmpeg program, its request the curl program, each with its own "
        "process start; the request body holds 1.9 MB per minute of audio)\n",
        repetitions);
    std::printf("load average (1, 5, 15 min) after: %s\n", loadAverage().c_str());
    return 0;
}
