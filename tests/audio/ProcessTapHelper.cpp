// Starts a muted per-application capture and waits to be killed, as a crashed run of the
// application would leave it: the capture sink in place and other applications moved to it.
// Usage: process-tap-helper <moved-streams-file>
// A failed start ends it with the error's text on standard error (as an uncaught exception).
#include <unistd.h>

#include "audio/ProcessTapCapturePulse.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    quenda::audio::ProcessTapCapturePulse capture(argv[1]);
    capture.start(true);
    for (;;)
        ::pause();
}
