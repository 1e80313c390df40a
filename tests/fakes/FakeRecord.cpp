#include "FakeRecord.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

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

}  // namespace quenda::fake
