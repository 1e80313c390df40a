// A stand-in for the whisper.cpp server with the behaviour the engine relies on:
//
//   fake-whisper-server -m MODEL -l LANG --port N --host H
//
// - it "loads" MODEL first and binds its port only afterwards (connection refused meanwhile);
// - an unusable model (missing, empty, a directory, not starting with "fake-ggml-model")
//   makes it exit with status 3; a port it cannot bind, status 1; an unknown option, status 0
//   after printing its usage;
// - it binds with SO_REUSEPORT, like the real server, so two of them can share a port;
// - GET / answers 200 with an HTML page naming the model; SIGTERM ends it with status 0.
//
// The model file's later lines steer it ("key value", one per line):
//   load_seconds 2.5        take this long to load
//   never_listen            load forever (never bind)
//   exit_after_load 7       exit with this status instead of listening
//   crash_after_seconds 1   abort this long after it started listening
//   root_status 404         answer GET / with this status
//   text um|dois            POST /inference answers these segments
//
// With FAKE_WHISPER_RECORD naming a file, it appends one JSON line per event there: its start
// (pid, arguments), the moment it listens (port, monotonic time), each request, its stop.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "FakeRecord.h"

namespace {

using quenda::fake::monotonicNanoseconds;
using quenda::fake::record;

constexpr const char* kRecordVariable = "FAKE_WHISPER_RECORD";

struct Options {
    std::string model = "models/ggml-base.en.bin";
    std::string language = "en";
    std::string host = "127.0.0.1";
    int port = 8080;
};

[[noreturn]] void usage(const char* program) {
    std::fprintf(stderr, "usage: %s [options]\n  -m FNAME, -l LANG, --port PORT, --host HOST\n",
                 program);
    std::exit(0);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            usage(argv[0]);
        std::string value = argv[++i];
        if (option == "-m" || option == "--model") {
            options.model = value;
        } else if (option == "-l" || option == "--language") {
            options.language = value;
        } else if (option == "--host") {
            options.host = value;
        } else if (option == "--port") {
            options.port = std::atoi(value.c_str());
        } else {
            usage(argv[0]);
        }
    }
    return options;
}

// The directives of a usable fake model file, or nothing for an unusable one.
std::optional<std::map<std::string, std::string>> loadModel(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream stream(path);
    std::string line;
    if (!std::getline(stream, line) || line != "fake-ggml-model")
        return std::nullopt;
    std::map<std::string, std::string> directives;
    while (std::getline(stream, line)) {
        auto space = line.find(' ');
        directives[line.substr(0, space)] =
            space == std::string::npos ? "" : line.substr(space + 1);
    }
    return directives;
}

std::string jsonEscape(const std::string& text) {
    return nlohmann::json(text).dump();
}

}  // namespace

int main(int argc, char** argv) {
    // SIGTERM and SIGINT are taken by a thread of their own so the server can stop cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const Options options = parseOptions(argc, argv);
    record(kRecordVariable, {{"event", "start"},
                             {"pid", ::getpid()},
                             {"args", std::vector<std::string>(argv + 1, argv + argc)}});

    httplib::Server server;
    std::atomic<bool> listening{false};
    std::thread([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        record(kRecordVariable, {{"event", "stop"}, {"pid", ::getpid()}, {"signal", received}});
        if (!listening)
            std::_Exit(0);
        server.stop();
        // Also covers a signal that arrives between binding and serving.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::_Exit(0);
    }).detach();

    auto model = loadModel(options.model);
    if (!model) {
        std::fprintf(stderr, "error: failed to load model '%s'\n", options.model.c_str());
        return 3;
    }
    auto directive = [&](const std::string& key) -> std::optional<std::string> {
        auto found = model->find(key);
        if (found == model->end())
            return std::nullopt;
        return found->second;
    };

    if (auto seconds = directive("load_seconds")) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(*seconds)));
    }
    if (directive("never_listen")) {
        for (;;)
            pause();
    }
    if (auto status = directive("exit_after_load"))
        return std::atoi(status->c_str());

    const int rootStatus = std::atoi(directive("root_status").value_or("200").c_str());
    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
        record(kRecordVariable, {{"event", "request"}, {"method", "GET"}, {"path", "/"}});
        response.status = rootStatus;
        response.set_content("<html><body>fake whisper server: " + options.model + "</body></html>",
                             "text/html");
    });
    server.Post("/inference", [&](const httplib::Request& request, httplib::Response& response) {
        record(kRecordVariable, {{"event", "request"},
                                 {"method", "POST"},
                                 {"path", "/inference"},
                                 {"content_type", request.get_header_value("Content-Type")},
                                 {"body_size", request.body.size()}});
        if (!request.has_file("file")) {
            response.status = 400;
            response.set_content("Invalid request", "text/plain");
            return;
        }
        std::string text;
        std::stringstream segments(directive("text").value_or(""));
        for (std::string segment; std::getline(segments, segment, '|');) {
            text += " " + segment + "\n";
        }
        response.set_content("{\"text\": " + jsonEscape(text) + "}", "application/json");
    });

    if (!server.bind_to_port(options.host, options.port)) {
        std::fprintf(stderr, "couldn't bind to server socket: hostname=%s port=%d\n",
                     options.host.c_str(), options.port);
        return 1;
    }
    listening = true;
    record(kRecordVariable, {{"event", "listening"},
                             {"pid", ::getpid()},
                             {"port", options.port},
                             {"monotonic_ns", monotonicNanoseconds()}});
    if (auto seconds = directive("crash_after_seconds")) {
        std::thread([delay = std::stod(*seconds)] {
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            std::abort();
        }).detach();
    }
    server.listen_after_bind();
    return 0;
}
