// Test helper: starts a speech server through an engine, says "ready", and waits to be ended,
// the way the command line does while it waits for a transcription.
//   engine-holder <server program> <model id>

#include <unistd.h>

#include <cstdio>

#include "cli/CommandLine.h"
#include "engine/TranscriptionEngine.h"

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    quenda::installCommandLineInterruptHandlers();
    quenda::ServerSettings settings;
    settings.serverProgram = argv[1];
    quenda::TranscriptionEngine engine(settings);
    try {
        engine.ensureServer(argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 3;
    }
    quenda::writeAll(STDOUT_FILENO, "ready\n");
    for (;;)
        pause();
}
