// How quickly the window of an installed quenda appears, and what it costs while it sits
// idle: process start to window shown (median and worst of several starts, alternating with a
// bare Qt window started the same way, and their ratio), then CPU time over a quiet minute and
// resident memory, with no speech server running (no model installed).
//
//   window-startup-bench [starts=10] [idle-seconds=60]
// Run it on a desktop (or the test desktop: scripts/lib/test-desktop.sh) with xdotool.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "BenchFigures.h"
#include "fixtures/FakeServers.h"

namespace {

using namespace quenda;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::median;

bool windowShown(const std::string& title) {
    return test::runProgram("/usr/bin/xdotool", {"search", "--onlyvisible", "--name", title})
               .status == 0;
}

// Seconds from launch until a window with this title is shown; the process keeps running.
double timeToWindow(std::unique_ptr<Process>& process, const fs::path& program,
                    const std::string& title, const ProcessOptions& options) {
    const auto start = Clock::now();
    process = Process::launch(program, {}, options);
    while (!windowShown(title) && Clock::now() - start < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User plus system CPU seconds the process has used.
double cpuSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field; ++index)
        if (index == 14 || index == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long residentKilobytes(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int starts = argc > 1 ? std::atoi(argv[1]) : 10;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    test::TempDir dir;
    const auto quenda = test::installQuendaWithFakeServer(dir / "install");
    ProcessOptions options;
    options.environment = {{"HOME", (dir / "home").string()},
                           {"XDG_DATA_HOME", (dir / "home/data").string()},
                           {"XDG_CONFIG_HOME", (dir / "home/config").string()},
                           {"QUENDA_MODELS_DIR", (dir / "models").string()},
                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}};
    std::vector<double> shown;
    std::vector<double> bare;
    for (int i = 0; i < starts; ++i) {
        std::unique_ptr<Process> process;
        bare.push_back(timeToWindow(process, BARE_QT_WINDOW, "bare-qt-window", options));
        process->terminate();
        process->waitForExit();
        shown.push_back(timeToWindow(process, quenda, "Quenda — Transcrição", options));
        if (i + 1 < starts) {
            process->terminate();
            process->waitForExit();
            continue;
        }
        std::printf(
            "start to window shown over %d starts: median %.3f s, worst %.3f s; "
            "a bare Qt window: median %.3f s (ratio %.2f)\n",
            starts, median(shown), *std::max_element(shown.begin(), shown.end()), median(bare),
            median(shown) / median(bare));
        std::this_thread::sleep_for(std::chrono::seconds(2));  // let start-up work settle
        const double before = cpuSeconds(process->pid());
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double used = cpuSeconds(process->pid()) - before;
        std::printf("idle for %d s: %.2f s of CPU (%.3f %%), resident memory %.1f MB\n",
                    idleSeconds, used, 100.0 * used / idleSeconds,
                    static_cast<double>(residentKilobytes(process->pid())) / 1024.0);
        process->terminate();
        process->waitForExit();
    }
}
