#include "FakeRecord.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace quenda::fake {

void record(const char* variable, const nlohmann::json& entry) {
    static std::mutex mutex;
    const char* path = std::getenv(variable);
    if (!path || !*path)
        return;
    std::string line = entry.dump() + "\n";
    std::lock_guard lock(mutex);
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    (void)!::write(fd, line.data(), line.size());
    ::close(fd);
}

long long monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void stopOnSignal(const char* recordVariable, httplib::Server& server,
                  const std::atomic<bool>& listening) {
    static sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([recordVariable, &server, &listening] {
        int received = 0;
        sigwait(&stopSignals, &received);
        record(recordVariable, {{"event", "stop"}, {"pid", ::getpid()}, {"signal", received}});
        if (!listening)
            std::_Exit(0);
        server.stop();
        // Also covers a signal that arrives between binding and serving.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::_Exit(0);
    }).detach();
}

}  // namespace quenda::fake
