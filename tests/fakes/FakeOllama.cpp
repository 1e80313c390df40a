// A stand-in for the Ollama server with the two requests the application relies on:
//
//   fake-ollama [--port N]          (default 11434, on 127.0.0.1)
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
//   "raw": "..."                   answer exactly this body instead (with "content_type")
//   "delay_seconds": 0             wait this long before answering the generation
//   "exit_on_generate": true       end the process at once on a generation request (the
//                                  server goes away between the check and the generation)
//
// With FAKE_OLLAMA_RECORD naming a file, it appends one JSON line per event there: its start,
// the moment it listens, each request (method, path, Content-Type, the body as received), its
// stop. SIGTERM ends it with status 0.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <httplib.h>

#include "FakeRecord.h"

namespace {

using quenda::fake::monotonicNanoseconds;
using quenda::fake::record;

constexpr const char* kRecordVariable = "FAKE_OLLAMA_RECORD";

nlohmann::json config() {
    const char* path = std::getenv("FAKE_OLLAMA_CONFIG");
    if (!path || !*path)
        return nlohmann::json::object();
    std::ifstream stream(path);
    auto parsed = nlohmann::json::parse(stream, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void recordRequest(const httplib::Request& request) {
    record(kRecordVariable, {{"event", "request"},
                             {"method", request.method},
                             {"path", request.path},
                             {"content_type", request.get_header_value("Content-Type")},
                             {"body", request.body},
                             {"monotonic_ns", monotonicNanoseconds()}});
}

}  // namespace

int main(int argc, char** argv) {
    int port = 11434;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--port")
            port = std::atoi(argv[i + 1]);
    }
    record(kRecordVariable, {{"event", "start"}, {"pid", ::getpid()}});

    httplib::Server server;
    const std::atomic<bool> listening{true};
    quenda::fake::stopOnSignal(kRecordVariable, server, listening);

    server.Get("/api/version", [](const httplib::Request& request, httplib::Response& response) {
        recordRequest(request);
        auto settings = config();
        sleepSeconds(settings.value("version_delay_seconds", 0.0));
        response.status = settings.value("version_status", 200);
        response.set_content(R"({"version":"0.0.0-fake"})", "application/json");
    });
    server.Post("/api/generate", [](const httplib::Request& request, httplib::Response& response) {
        recordRequest(request);
        auto settings = config();
        if (settings.value("exit_on_generate", false))
            std::_Exit(0);
        sleepSeconds(settings.value("delay_seconds", 0.0));
        response.status = settings.value("status", 200);
        if (settings.contains("raw")) {
            response.set_content(settings.value("raw", ""),
                                 settings.value("content_type", "application/json").c_str());
            return;
        }
        if (settings.contains("error")) {
            response.set_content(nlohmann::json{{"error", settings["error"]}}.dump(),
                                 "application/json");
            return;
        }
        std::string text = settings.value("response", "resposta");
        if (settings.value("echo", false)) {
            auto body = nlohmann::json::parse(request.body, nullptr, false);
            text = body.is_object() ? body.value("prompt", "") : "";
        }
        nlohmann::json answer = {{"model", "llama3.1"}, {"response", text}, {"done", true}};
        response.set_content(answer.dump(), "application/json");
    });

    if (!server.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "Error: listen tcp 127.0.0.1:%d: bind: address already in use\n",
                     port);
        return 1;
    }
    record(kRecordVariable, {{"event", "listening"},
                             {"pid", ::getpid()},
                             {"port", port},
                             {"monotonic_ns", monotonicNanoseconds()}});
    server.listen_after_bind();
    return 0;
}
