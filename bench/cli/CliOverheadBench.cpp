// The command line's overhead: "quenda --cli transcribe" on a 1-minute and a 10-minute WAV
// (44.1 kHz stereo) against the fake whisper-server answering at once, side by side with the
// least work that does the same job: one ffmpeg conversion plus one multipart POST with curl
// to an already running fake server. Prints wall times, their ratio, and peak memory, then
// quenda's steps (conversion, reading the file into the request body, the request) timed one
// by one beside ffmpeg's and curl's times.
//
//   bench-cli [repetitions]     (run it with scripts/lib/private-network: quenda uses 8642)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "FakeServers.h"
#include "TestAudio.h"
#include "engine/MultipartBody.h"
#include "engine/TranscriptionEngine.h"
#include "platform/Http.h"
#include "platform/LoopbackPorts.h"
#include "platform/Process.h"
#include "support/TestSupport.h"

namespace {

using namespace quenda;
using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = 0;
    double peakMB = 0;  // the peak resident size of the process
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

// Runs one program to its end, watching its peak resident size (VmHWM) while it runs.
Run runWatched(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment = {}) {
    ProcessOptions options;
    options.environment = environment;
    const auto start = Clock::now();
    auto process = Process::launch(program, arguments, options);
    Run run;
    while (!process->waitForExit(std::chrono::milliseconds(5))) {
        run.peakMB = std::max(run.peakMB, highWaterMB(process->pid()));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.status = *process->exitStatus();
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Quenda's steps for one file, each timed in this process with the engine's own parts: the
// conversion, reading the converted file into the request body, and the request (upload and
// answer) to a running server.
struct Split {
    double conversion = 0, body = 0, request = 0;
};
Split timeSteps(const std::filesystem::path& input, uint16_t port) {
    Split split;
    auto start = Clock::now();
    TemporaryFile wav = TranscriptionEngine::normalize(input);
    split.conversion = since(start);
    start = Clock::now();
    MultipartBody body("Boundary-bench");
    body.addField("response_format", "json");
    body.addField("temperature", "0.0");
    body.addField("language", "pt");
    body.beginFile("file", "audio.wav", "audio/wav");
    body.appendFileContents(wav.path());
    body.finish();
    split.body = since(start);
    start = Clock::now();
    HttpRequest request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(port) + "/inference";
    request.headers = {{"Content-Type", body.contentType()}};
    request.body = body.bytes();
    if (Http::send(request).status != 200)
        throw std::runtime_error("the fake server did not answer 200");
    split.request = since(start);
    return split;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    test::TempDir dir;
    const auto quenda = test::installQuendaWithFakeServer(dir / "install");
    const auto models = dir / "models";
    const auto model = models / "ggml-base.bin";
    test::writeFakeModel(model, {"text ok"});
    std::filesystem::create_directories(dir / "tmp");
    const std::map<std::string, std::string> environment = {
        {"HOME", (dir / "home").string()},
        {"XDG_DATA_HOME", (dir / "data").string()},
        {"QUENDA_MODELS_DIR", models.string()},
        {"TMPDIR", (dir / "tmp").string()}};

    // The baseline's server, started once on a port of its own.
    const uint16_t port = findFreeLoopbackPort().value_or(18642);
    auto server = Process::launch(
        QUENDA_FAKE_WHISPER_SERVER,
        {"-m", model.string(), "-l", "pt", "--port", std::to_string(port), "--host", "127.0.0.1"});
    if (!test::waitUntil([&] { return TranscriptionEngine::ping(port); })) {
        std::fprintf(stderr, "the fake server did not start\n");
        return 1;
    }

    // What quenda spends before it looks at the file: starting its server and noticing that it
    // answers (the probes are 0.3 s apart).
    std::vector<double> startTimes;
    for (int i = 0; i < repetitions; ++i) {
        test::ScopedEnv modelsDir("QUENDA_MODELS_DIR", models.string());
        ServerSettings settings;
        settings.serverProgram = QUENDA_FAKE_WHISPER_SERVER;
        TranscriptionEngine engine(settings);
        const auto start = Clock::now();
        engine.ensureServer("base");
        startTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const double serverStart = median(startTimes);
    std::printf("server start until it answers: %.3f s\n", serverStart);

    std::printf("%-8s %10s %14s %7s %12s %12s %12s %12s\n", "audio", "quenda s", "ffmpeg+curl s",
                "ratio", "w/o start", "quenda peak", "ffmpeg peak", "curl peak");
    struct SplitRow {
        int minutes;
        double conversion, body, request, ffmpeg, curl, quenda;
    };
    std::vector<SplitRow> splits;
    for (int minutes : {1, 10}) {
        const auto input = dir / ("audio-" + std::to_string(minutes) + "min.wav");
        test::makeTone(input, minutes * 60.0, 44100, 2);
        const auto converted = dir / "baseline.wav";

        std::vector<double> quendaTimes, baselineTimes, ffmpegTimes, curlTimes;
        std::vector<double> conversionTimes, bodyTimes, requestTimes;
        double quendaPeak = 0, ffmpegPeak = 0, curlPeak = 0;
        for (int i = 0; i < repetitions; ++i) {
            Run cli = runWatched(quenda, {"--cli", "transcribe", "--model", "base", input.string()},
                                 environment);
            if (cli.status != 0) {
                std::fprintf(stderr, "quenda failed (%d)\n", cli.status);
                return 1;
            }
            Run ffmpeg = runWatched("/usr/bin/ffmpeg",
                                    {"-y", "-v", "error", "-i", input.string(), "-ar", "16000",
                                     "-ac", "1", "-c:a", "pcm_s16le", converted.string()});
            Run curl =
                runWatched("/usr/bin/curl",
                           {"-sf", "-o", "/dev/null", "-H", "Expect:", "-F", "response_format=json",
                            "-F", "temperature=0.0", "-F", "language=pt", "-F",
                            "file=@" + converted.string() + ";filename=audio.wav;type=audio/wav",
                            "http://127.0.0.1:" + std::to_string(port) + "/inference"});
            std::filesystem::remove(converted);
            if (ffmpeg.status != 0 || curl.status != 0) {
                std::fprintf(stderr, "baseline failed (%d, %d)\n", ffmpeg.status, curl.status);
                return 1;
            }
            const Split split = timeSteps(input, port);
            conversionTimes.push_back(split.conversion);
            bodyTimes.push_back(split.body);
            requestTimes.push_back(split.request);
            ffmpegTimes.push_back(ffmpeg.seconds);
            curlTimes.push_back(curl.seconds);
            quendaTimes.push_back(cli.seconds);
            baselineTimes.push_back(ffmpeg.seconds + curl.seconds);
            quendaPeak = std::max(quendaPeak, cli.peakMB);
            ffmpegPeak = std::max(ffmpegPeak, ffmpeg.peakMB);
            curlPeak = std::max(curlPeak, curl.peakMB);
        }
        const double q = median(quendaTimes), b = median(baselineTimes);
        std::printf("%-8s %10.3f %14.3f %7.2f %12.2f %9.1f MB %9.1f MB %9.1f MB\n",
                    (std::to_string(minutes) + " min").c_str(), q, b, q / b, (q - serverStart) / b,
                    quendaPeak, ffmpegPeak, curlPeak);
        splits.push_back({minutes, median(conversionTimes), median(bodyTimes), median(requestTimes),
                          median(ffmpegTimes), median(curlTimes), q});
    }
    // Where quenda's time goes: its steps timed in this process beside the baseline's two
    // programs; the rest of quenda's time is its own start, the server start and the exit.
    std::printf("%-8s %11s %9s %11s %9s %9s | %7s %7s\n", "split", "conversion", "ffmpeg",
                "read+body", "request", "curl", "steps", "rest");
    for (const auto& row : splits) {
        const double steps = row.conversion + row.body + row.request;
        std::printf("%-8s %11.3f %9.3f %11.3f %9.3f %9.3f | %7.3f %7.3f\n",
                    (std::to_string(row.minutes) + " min").c_str(), row.conversion, row.ffmpeg,
                    row.body, row.request, row.curl, steps, row.quenda - steps);
    }
    std::printf(
        "(medians of %d runs; \"w/o start\" leaves out the server start; the request body "
        "holds 1.9 MB per minute of audio)\n",
        repetitions);
    server->terminate();
    server->waitForExit();
    return 0;
}
