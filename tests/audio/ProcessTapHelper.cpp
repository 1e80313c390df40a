// Starts a muted per-application capture and then waits to be killed, as a crashed run of the
// application would leave it: the capture sink in place and other applications moved to it.
// Usage: process-tap-helper <moved-streams-file>
#include "audio/ProcessTapCapturePulse.h"

#include <unistd.h>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    try {
        quenda::audio::ProcessTapCapturePulse capture(argv[1]);
        capture.start(true);
        std::puts("started");
        std::fflush(stdout);
        for (;;)
            ::pause();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
