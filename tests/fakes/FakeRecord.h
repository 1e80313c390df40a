#pragma once

#include <atomic>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
}

namespace quenda::fake {

// Appends one JSON line to the file named by the environment variable `variable`, when set.
// Safe from several threads and processes (one append per line).
void record(const char* variable, const nlohmann::json& entry);

// Nanoseconds of the system's monotonic clock, comparable between processes.
long long monotonicNanoseconds();

// Takes SIGTERM and SIGINT away from every thread (call it first in main, before any thread
// starts) and hands them to a thread of their own, which records the stop and ends the
// program: at once while `listening` is false, else after stopping `server` cleanly.
void stopOnSignal(const char* recordVariable, httplib::Server& server,
                  const std::atomic<bool>& listening);

}  // namespace quenda::fake
