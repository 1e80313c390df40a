#pragma once

#include <nlohmann/json.hpp>

namespace quenda::fake {

// Appends one JSON line to the file named by the environment variable `variable`, when set.
// Safe from several threads and processes (one append per line).
void record(const char* variable, const nlohmann::json& entry);

// Nanoseconds of the system's monotonic clock, comparable between processes.
long long monotonicNanoseconds();

}  // namespace quenda::fake
