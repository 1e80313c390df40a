// Download throughput of ModelDownloader from a local server, side by side with `curl -o` of
// the same file, and the downloader's peak memory, for files of the two catalog sizes
// (200 MB and 1.6 GB, sparse on disk).
//
//   download-bench [--dir DIR] [--sizes-mb 200,1600]
//
// DIR (default: the system's temporary directory) receives the source and the downloaded
// files; they are removed afterwards.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/ModelDownloader.h"
#include "platform/LoopbackPorts.h"
#include "platform/MainQueue.h"
#include "platform/Process.h"

namespace fs = std::filesystem;
using namespace quenda;
using Clock = std::chrono::steady_clock;

namespace {

// A field of /proc/self/status, in kilobytes.
long statusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

// Starts the high-water mark of resident memory again from the current size.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

struct DownloaderRun {
    double seconds = 0;
    long rssBeforeKB = 0;
    long peakKB = 0;
};

DownloaderRun runDownloader(const std::string& url) {
    ManualMainQueue mainQueue;
    ModelDownloaderSettings settings;
    settings.addressOf = [&](const ModelInfo&) { return url; };
    ModelDownloader downloader(mainQueue, settings);
    bool done = false, ok = false;
    DownloaderRun run;
    resetPeakMemory();
    run.rssBeforeKB = statusKilobytes("VmRSS");
    const auto start = Clock::now();
    downloader.download("base", [&](bool result) {
        done = true;
        ok = result;
    });
    mainQueue.runUntil([&] { return done; }, std::chrono::hours(1));
    run.seconds = seconds(Clock::now() - start);
    run.peakKB = statusKilobytes("VmHWM");
    if (!ok) {
        std::fprintf(stderr, "download failed: %s\n", downloader.error().value_or("?").c_str());
        std::exit(1);
    }
    return run;
}

struct CurlRun {
    double seconds = 0;
    // Including flushing the file to disk afterwards, as the downloader does before the rename.
    double secondsFlushed = 0;
};

CurlRun runCurl(const std::string& url, const fs::path& output) {
    const auto start = Clock::now();
    auto curl = Process::launch("/usr/bin/curl", {"-s", "-f", "-o", output.string(), url});
    const int status = curl->waitForExit();
    CurlRun run;
    run.seconds = seconds(Clock::now() - start);
    if (status != 0) {
        std::fprintf(stderr, "curl failed with status %d\n", status);
        std::exit(1);
    }
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC);
    ::fsync(fd);
    ::close(fd);
    run.secondsFlushed = seconds(Clock::now() - start);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path dir = fs::temp_directory_path();
    std::vector<long> sizesMB = {200, 1600};
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--dir") {
            dir = argv[i + 1];
        } else if (option == "--sizes-mb") {
            sizesMB.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');)
                sizesMB.push_back(std::atol(item.c_str()));
        }
    }
    const fs::path work = dir / ("quenda-download-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "models");
    ::setenv("QUENDA_MODELS_DIR", (work / "models").c_str(), 1);
    const fs::path server = fs::path(argv[0]).parent_path() / "bench-file-server";

    std::printf("download benchmark, files in %s\n", work.c_str());
    std::printf("%8s %10s %10s %8s %16s %8s %12s %14s\n", "size MB", "ours MB/s", "curl MB/s",
                "ratio", "curl+fsync MB/s", "ratio", "peak RSS MB", "RSS growth MB");
    for (long sizeMB : sizesMB) {
        const fs::path source = work / "source.bin";
        {
            std::ofstream(source).close();
            fs::resize_file(source, static_cast<uintmax_t>(sizeMB) * 1000 * 1000);  // sparse
        }
        const auto port = findFreeLoopbackPort();
        auto serverProcess =
            Process::launch(server, {source.string(), std::to_string(port.value_or(0))});
        while (isLoopbackPortFree(*port))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string url = "http://127.0.0.1:" + std::to_string(*port) + "/ggml-base.bin";

        // Best of three runs each, alternating, so neither side profits from the other's caches.
        CurlRun curlBest{1e9, 1e9};
        DownloaderRun oursBest;
        oursBest.seconds = 1e9;
        for (int round = 0; round < 3; ++round) {
            const CurlRun curl = runCurl(url, work / "curl.bin");
            curlBest.seconds = std::min(curlBest.seconds, curl.seconds);
            curlBest.secondsFlushed = std::min(curlBest.secondsFlushed, curl.secondsFlushed);
            fs::remove(work / "curl.bin");
            DownloaderRun ours = runDownloader(url);
            fs::remove(work / "models" / "ggml-base.bin");
            if (ours.seconds < oursBest.seconds)
                oursBest = ours;
        }
        serverProcess->terminate();
        serverProcess->waitForExit();
        fs::remove(source);

        const double megabytes = static_cast<double>(sizeMB);
        std::printf("%8ld %10.0f %10.0f %8.3f %16.0f %8.3f %12.1f %14.1f\n", sizeMB,
                    megabytes / oursBest.seconds, megabytes / curlBest.seconds,
                    oursBest.seconds / curlBest.seconds, megabytes / curlBest.secondsFlushed,
                    oursBest.seconds / curlBest.secondsFlushed,
                    static_cast<double>(oursBest.peakKB) / 1024.0,
                    static_cast<double>(oursBest.peakKB - oursBest.rssBeforeKB) / 1024.0);
    }
    std::printf(
        "ratio = our time / curl's time (target at most 1.10). Our time includes "
        "flushing the file to disk before it is renamed into place; the second ratio "
        "compares with curl followed by the same flush. Peak RSS is the benchmark "
        "process's high-water mark during the download.\n");
    fs::remove_all(work);
    return 0;
}
