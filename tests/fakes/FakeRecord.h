// What the two stand-in servers share: their record of events and their way of stopping.
#pragma once

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace quenda::fake {

// Appends one JSON line to the file named by the environment variable `variable`, when set.
// One write of a whole line to an O_APPEND file: lines of threads and processes never mix.
inline void record(const char* variable, const nlohmann::json& entry) {
    const char* path = std::getenv(variable);
    const std::string line = entry.dump() + "\n";
    int fd = path && *path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    if (fd >= 0) {
        (void)!::write(fd, line.data(), line.size());
        ::close(fd);
    }
}

// Nanoseconds of the system's monotonic clock, comparable between processes.
inline long long monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Takes SIGTERM and SIGINT away from every thread (call it first in main, before any thread
// starts) and hands them to a thread of their own, which records the stop and ends the
// program with status 0: at once while `listening` is false, else after stopping `server`.
// While `*ignoring` is true, a signal is recorded as "ignored_stop" and changes nothing.
inline void stopOnSignal(const char* recordVariable, httplib::Server& server,
                         const std::atomic<bool>& listening,
                         const std::atomic<bool>* ignoring = nullptr) {
    static sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([recordVariable, &server, &listening, ignoring] {
        int received = 0;
        sigwait(&stopSignals, &received);
        while (ignoring && *ignoring) {
            record(recordVariable,
                   {{"event", "ignored_stop"}, {"pid", ::getpid()}, {"signal", received}});
            sigwait(&stopSignals, &received);
        }
        record(recordVariable, {{"event", "stop"}, {"pid", ::getpid()}, {"signal", received}});
        if (listening) {
            server.stop();
            // Also covers a signal that arrives between binding and serving.
            std::this_thread::sleep_for(std::chrono::seconds(2));
        }
        std::_Exit(0);
    }).detach();
}

}  // namespace quenda::fake
