// Starts a muted per-application capture and waits to be killed, as a crashed run of the
// application would leave it: the capture sink in place and other applications moved to it.
// Usage: process-tap-helper <moved-streams-file>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "audio/ProcessTapCapturePulse.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    try {
        quenda::audio::ProcessTapCapturePulse capture(argv[1]);
        capture.start(true);
        for (;;)
            ::pause();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
