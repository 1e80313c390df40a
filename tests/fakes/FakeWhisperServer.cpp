// A stand-in for the whisper.cpp server with the behaviour the engine relies on:
//
//   fake-whisper-server -m MODEL -l LANG --port N --host H
//
// - it "loads" MODEL first and binds its port only afterwards (connection refused meanwhile);
// - an unusable model (missing, empty, a directory, not starting with "fake-ggml-model")
//   makes it exit with status 3; a port it cannot bind, status 1;
// - it binds with SO_REUSEPORT, like the real server, so two of them can share a port;
// - GET / answers 200 with an HTML page naming the model; SIGTERM ends it with status 0.
//
// The model file's later lines steer it ("key value", one per line):
//   load_seconds 2.5        take this long to load
//   never_listen            load forever (never bind)
//   exit_after_load 7       exit with this status instead of listening
//   root_status 404         answer GET / with this status
//   ignore_sigterm          ignore SIGTERM and SIGINT (recorded as "ignored_stop"); only
//                           SIGKILL ends it
//   text um|dois            POST /inference answers these segments
//   text_2 tres             ... except the 2nd request, which answers these
//   inference_delay_seconds 2    answer /inference only after this long
//   inference_status 500         answer /inference with this status (default 200) ...
//   inference_body {"error":"failed to process audio"}
//                                ... and exactly this body (empty when nothing follows)
//
// POST /inference, like the real server, takes one request at a time, wants a multipart body
// with a "file" part (else 400 "Invalid request", text/plain) and answers {"text": " seg\n"}.
// The fake is stricter than the real server about the audio: anything but a well-formed
// 16 kHz mono 16-bit PCM WAV (chunks parsed; a LIST chunk may precede "data") gets a 500
// {"error":"failed to process audio"}.
//
// With FAKE_WHISPER_RECORD naming a file, it appends one JSON line per event there: its start
// (pid, arguments), the moment it listens (port, monotonic time), each /inference request (the
// Content-Type, its text fields by name, its file parts' names and types, the audio's
// duration), its stop. With
// FAKE_WHISPER_AUDIO_DIR naming a directory, the audio part of the n-th inference request is
// saved there as "inference-<n>.wav" (before any delay of the answer).

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "FakeRecord.h"
#include "platform/WavFormat.h"

namespace {

using nlohmann::json;
using quenda::fake::record;

constexpr const char* kRecord = "FAKE_WHISPER_RECORD";

void sleepSeconds(const std::string& seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(seconds)));
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options = {{"--host", "127.0.0.1"}, {"--port", "8080"}};
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    const std::string model = options["-m"];
    const int port = std::atoi(options["--port"].c_str());
    record(kRecord, {{"event", "start"},
                     {"pid", ::getpid()},
                     {"args", std::vector<std::string>(argv + 1, argv + argc)}});

    httplib::Server server;
    std::atomic<bool> listening{false};
    static std::atomic<bool> ignoreStop{false};
    quenda::fake::stopOnSignal(kRecord, server, listening, &ignoreStop);

    // Loading: a usable model is a regular file whose first line is "fake-ggml-model".
    std::ifstream stream(model);
    std::string line;
    if (!std::filesystem::is_regular_file(model) || !std::getline(stream, line) ||
        line != "fake-ggml-model") {
        std::fprintf(stderr, "error: failed to load model '%s'\n", model.c_str());
        return 3;
    }
    std::map<std::string, std::string> directives;
    while (std::getline(stream, line)) {
        auto space = line.find(' ');
        directives[line.substr(0, space)] =
            space == std::string::npos ? "" : line.substr(space + 1);
    }
    auto directive = [&](const std::string& key, std::optional<std::string> otherwise = {}) {
        auto found = directives.find(key);
        return found == directives.end() ? otherwise : std::optional(found->second);
    };
    ignoreStop = directive("ignore_sigterm").has_value();
    if (auto seconds = directive("load_seconds"))
        sleepSeconds(*seconds);
    while (directive("never_listen"))
        pause();
    if (auto status = directive("exit_after_load"))
        return std::atoi(status->c_str());

    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
        response.status = std::atoi(directive("root_status", "200")->c_str());
        response.set_content("<html><body>fake whisper server: " + model + "</body></html>",
                             "text/html");
    });
    std::mutex inferenceMutex;
    int inferenceCount = 0;
    server.Post("/inference", [&](const httplib::Request& request, httplib::Response& response) {
        // Like the real server: one inference at a time, later requests wait their turn.
        std::lock_guard lock(inferenceMutex);
        const int number = ++inferenceCount;
        json entry = {{"event", "request"},
                      {"path", "/inference"},
                      {"content_type", request.get_header_value("Content-Type")},
                      {"fields", json::object()}};
        const httplib::MultipartFormData* file = nullptr;
        for (const auto& [name, part] : request.files) {
            if (part.filename.empty()) {
                entry["fields"][name] = part.content;
            } else {
                entry["files"][name] = {{"filename", part.filename},
                                        {"content_type", part.content_type}};
                file = name == "file" ? &part : file;
            }
        }
        auto answer = [&](int status, const std::string& body, const std::string& type) {
            sleepSeconds(*directive("inference_delay_seconds", "0"));
            response.status = status;
            response.set_content(body, type);
            record(kRecord, entry);
        };
        if (!file)
            return answer(400, "Invalid request", "text/plain");
        if (const char* directory = std::getenv("FAKE_WHISPER_AUDIO_DIR")) {
            std::ofstream(
                std::filesystem::path(directory) / ("inference-" + std::to_string(number) + ".wav"),
                std::ios::binary)
                << file->content;
        }
        const auto wav = quenda::parseWav(file->content);
        if (wav)
            entry["wav"] = {{"seconds", wav->seconds()}};
        if (!wav || !wav->isEngineFormat())
            return answer(500, R"({"error":"failed to process audio"})", "application/json");
        if (directive("inference_status") || directive("inference_body")) {
            return answer(std::atoi(directive("inference_status", "200")->c_str()),
                          *directive("inference_body", ""), "application/json");
        }
        std::string text;
        std::stringstream segments(
            *directive("text_" + std::to_string(number), directive("text", "")));
        for (std::string segment; std::getline(segments, segment, '|');)
            text += " " + segment + "\n";
        answer(200, "{\"text\": " + json(text).dump() + "}", "application/json");
    });

    if (!server.bind_to_port(options["--host"], port)) {
        std::fprintf(stderr, "couldn't bind to server socket: hostname=%s port=%d\n",
                     options["--host"].c_str(), port);
        return 1;
    }
    listening = true;
    record(kRecord, {{"event", "listening"},
                     {"pid", ::getpid()},
                     {"port", port},
                     {"monotonic_ns", quenda::fake::monotonicNanoseconds()}});
    server.listen_after_bind();
}
