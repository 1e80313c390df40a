#pragma once

#include "audio/PulseConnection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenda::audio::queries {

// Blocking queries and commands on a connection. Each takes the loop's lock itself, so none may
// run on the loop's thread. Failures throw PulseFailure unless the result says otherwise.

struct SinkInput {
    uint32_t index = 0;
    uint32_t sink = 0;         // index of the sink it plays into
    uint32_t client = 0;       // PA_INVALID_INDEX for streams the server's modules own
    uint32_t ownerModule = 0;  // PA_INVALID_INDEX for applications' streams
    bool ownPlayback = false;  // one of this application's own playback streams
    bool corked = false;
};

struct Sink {
    uint32_t index = 0;
    std::string name;
    uint32_t ownerModule = 0;
    std::string monitorSource;  // the source that carries what the sink plays
};

struct Module {
    uint32_t index = 0;
    std::string name;
    std::string argument;
};

struct Defaults {
    std::string sink;  // empty when the server has none
    std::string source;
};
Defaults defaults(PulseConnection& connection);
// Return false when the server refused.
bool setDefaultSink(PulseConnection& connection, const std::string& name);
bool setDefaultSource(PulseConnection& connection, const std::string& name);

std::vector<SinkInput> sinkInputs(PulseConnection& connection);
// Nothing when the stream no longer exists.
std::optional<SinkInput> sinkInput(PulseConnection& connection, uint32_t index);

std::vector<Sink> sinks(PulseConnection& connection);
// Nothing when there is no sink of that name.
std::optional<Sink> sinkNamed(PulseConnection& connection, const std::string& name);

std::vector<Module> modules(PulseConnection& connection);
// Loads a server module and returns its index.
uint32_t loadModule(PulseConnection& connection, const std::string& name,
                    const std::string& argument);
// Returns false when the server refused (for example, the module is already gone).
bool unloadModule(PulseConnection& connection, uint32_t index);

// Moves a playback stream to the sink of that name; false when the server refused (the stream
// or the sink is gone).
bool moveSinkInput(PulseConnection& connection, uint32_t index, const std::string& sinkName);

}  // namespace quenda::audio::queries
