#include "audio/OwnPlayback.h"

#include <pulse/proplist.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

namespace quenda::audio {

namespace {

std::atomic<int> activeCount{0};
// Steady-clock time (nanoseconds) at which the last activity ended; the minimum means never.
std::atomic<std::chrono::steady_clock::rep> lastEnd{
    std::chrono::steady_clock::duration::min().count()};

}  // namespace

void markOwnPlayback(pa_proplist* properties) {
    pa_proplist_sets(properties, kOwnPlaybackProperty, kOwnPlaybackValue);
}

bool isOwnPlayback(const pa_proplist* properties) {
    if (!properties)
        return false;
    if (const char* mark = pa_proplist_gets(properties, kOwnPlaybackProperty);
        mark && std::strcmp(mark, kOwnPlaybackValue) == 0)
        return true;
    const char* process = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    return process && std::to_string(::getpid()) == process;
}

OwnPlaybackActivity::OwnPlaybackActivity() {
    activeCount.fetch_add(1);
}

OwnPlaybackActivity::~OwnPlaybackActivity() {
    // The end time is stored first, so a reader never sees neither the activity nor its tail.
    lastEnd.store(std::chrono::steady_clock::now().time_since_epoch().count());
    activeCount.fetch_sub(1);
}

bool ownPlaybackAudible(std::chrono::milliseconds tail) {
    if (activeCount.load() > 0)
        return true;
    const auto ended = lastEnd.load();
    if (ended == std::chrono::steady_clock::duration::min().count())
        return false;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return now - std::chrono::steady_clock::duration(ended) < tail;
}

}  // namespace quenda::audio
