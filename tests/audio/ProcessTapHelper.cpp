// Starts a muted per-application capture and waits to be killed, as a crashed run of the
// application would leave it: the capture sink in place and other applications moved to it.
// Usage: process-tap-helper <moved-streams-file>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "audio/ProcessTapCapturePulse.h"

int main(int argc, char** argv) {
    try {
        quenda::audio::ProcessTapCapturePulse capture(argc == 2 ? argv[1] : "moved.json");
        capture.start(true);
        for (;;)
            ::pause();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
