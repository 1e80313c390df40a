// A stand-in for the Ollama server with the two requests the application relies on:
//
//   fake-ollama                     (on 127.0.0.1:11434)
//
// - GET /api/version answers 200 {"version":"0.0.0-fake"};
// - POST /api/generate answers {"model":..., "response": <text>, "done": true}.
//
// It is steered by the JSON file that FAKE_OLLAMA_CONFIG names, read anew for every request
// (a missing or broken file means the defaults):
//   "version_status": 200          status of GET /api/version
//   "version_delay_seconds": 0     wait this long before answering it
//   "response": "texto"            the generation's "response" (default "resposta")
//   "echo": true                   answer the request's "prompt" as the response
//   "status": 200                  status of the generation's answer
//   "error": "model not found"     answer {"error": ...} instead of a response
//   "raw": "..."                   answer exactly this body instead
//   "delay_seconds": 0             wait this long before answering the generation
//
// With FAKE_OLLAMA_RECORD naming a file, it appends one JSON line per event there: its start,
// the moment it listens, each request (path, Content-Type, the body as received), its stop. SIGTERM
// ends it with status 0.

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "FakeRecord.h"

namespace {

using nlohmann::json;
constexpr const char* kRecord = "FAKE_OLLAMA_RECORD";

// Records the request, then reads the current settings and acts on the delay.
json settingsFor(const httplib::Request& request, const char* delayKey) {
    quenda::fake::record(kRecord,
                         {{"event", "request"}, {"path", request.path}, {"body", request.body}});
    const char* path = std::getenv("FAKE_OLLAMA_CONFIG");
    std::ifstream stream(path ? path : "");
    auto settings = json::parse(stream, nullptr, false);
    if (!settings.is_object())
        settings = json::object();
    std::this_thread::sleep_for(std::chrono::duration<double>(settings.value(delayKey, 0.0)));
    return settings;
}

}  // namespace

int main() {
    constexpr int port = 11434;
    quenda::fake::record(kRecord, {{"event", "start"}, {"pid", ::getpid()}});
    httplib::Server server;
    const std::atomic<bool> listening{true};
    quenda::fake::stopOnSignal(kRecord, server, listening);

    server.Get("/api/version", [](const httplib::Request& request, httplib::Response& response) {
        auto settings = settingsFor(request, "version_delay_seconds");
        response.status = settings.value("version_status", 200);
        response.set_content(R"({"version":"0.0.0-fake"})", "application/json");
    });
    server.Post("/api/generate", [](const httplib::Request& request, httplib::Response& response) {
        auto settings = settingsFor(request, "delay_seconds");
        response.status = settings.value("status", 200);
        std::string text = settings.value("response", "resposta");
        if (settings.value("echo", false)) {
            auto body = json::parse(request.body, nullptr, false);
            text = body.is_object() ? body.value("prompt", "") : "";
        }
        const json answer = settings.contains("error")
                                ? json{{"error", settings["error"]}}
                                : json{{"model", "llama3.1"}, {"response", text}, {"done", true}};
        response.set_content(settings.value("raw", answer.dump()), "application/json");
    });

    if (!server.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "Error: listen tcp 127.0.0.1:%d: bind: address already in use\n",
                     port);
        return 1;
    }
    quenda::fake::record(kRecord, {{"event", "listening"}, {"pid", ::getpid()}, {"port", port}});
    server.listen_after_bind();
}
