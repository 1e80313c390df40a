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
//   text_2 tres             ... except the 2nd request, which answers these
//   inference_delay_seconds 2    answer /inference only after this long
//   inference_status 500         answer /inference with this status ...
//   inference_body {"error":"failed to process audio"}
//                                ... and exactly this body (empty when nothing follows)
//   inference_content_type text/plain   ... of this type (default application/json)
//
// POST /inference, like the real server, takes one request at a time, wants a multipart body
// with a "file" part (else 400 "Invalid request", text/plain) and answers {"text": " seg\n"}.
// The fake is stricter than the real server about the audio: anything but a well-formed
// 16 kHz mono 16-bit PCM WAV (chunks parsed; a LIST chunk may precede "data") gets a 500
// {"error":"failed to process audio"} and the reason in the record.
//
// With FAKE_WHISPER_RECORD naming a file, it appends one JSON line per event there: its start
// (pid, arguments), the moment it listens (port, monotonic time), each request (for
// /inference: the Content-Type, Content-Length, the parts in order, the audio's format and
// duration, and whether the body is byte for byte the layout the application promises), its
// stop. With FAKE_WHISPER_AUDIO_DIR naming a directory, the audio part of the n-th inference
// request is saved there as "inference-<n>.wav".

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "FakeRecord.h"
#include "WavInfo.h"

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

struct Part {
    std::string name;
    std::string fileName;
    std::string contentType;
    std::string content;
};

// The body the application promises, rebuilt from the parts the HTTP library separated: each
// text field as "--B CRLF Content-Disposition: form-data; name="N" CRLF CRLF value CRLF",
// then the file part with its Content-Type line, then "CRLF --B-- CRLF".
std::string promisedLayout(const std::string& boundary, const std::vector<Part>& parts) {
    std::string body;
    for (const auto& part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.fileName.empty()) {
            body += "\r\n\r\n" + part.content + "\r\n";
        } else {
            body += "; filename=\"" + part.fileName + "\"\r\nContent-Type: " + part.contentType +
                    "\r\n\r\n" + part.content;
        }
    }
    return body + "\r\n--" + boundary + "--\r\n";
}

std::string boundaryOf(const std::string& contentType) {
    const std::string key = "boundary=";
    auto at = contentType.find(key);
    return at == std::string::npos ? std::string() : contentType.substr(at + key.size());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    record(kRecordVariable, {{"event", "start"},
                             {"pid", ::getpid()},
                             {"args", std::vector<std::string>(argv + 1, argv + argc)}});

    httplib::Server server;
    std::atomic<bool> listening{false};
    quenda::fake::stopOnSignal(kRecordVariable, server, listening);

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
    std::mutex inferenceMutex;
    int inferenceCount = 0;
    server.Post("/inference", [&](const httplib::Request& request, httplib::Response& response,
                                  const httplib::ContentReader& reader) {
        // Like the real server: one inference at a time, later requests wait their turn.
        std::lock_guard lock(inferenceMutex);
        const int number = ++inferenceCount;
        std::vector<Part> parts;
        size_t received = 0;
        if (request.is_multipart_form_data()) {
            reader(
                [&](const httplib::MultipartFormData& header) {
                    parts.push_back({header.name, header.filename, header.content_type, {}});
                    return true;
                },
                [&](const char* data, size_t size) {
                    parts.back().content.append(data, size);
                    received += size;
                    return true;
                });
        } else {
            reader([&](const char*, size_t size) {
                received += size;
                return true;
            });
        }
        const std::string contentType = request.get_header_value("Content-Type");
        const std::string contentLength = request.get_header_value("Content-Length");
        nlohmann::json entry = {{"event", "request"},
                                {"method", "POST"},
                                {"path", "/inference"},
                                {"number", number},
                                {"content_type", contentType},
                                {"content_length", contentLength},
                                {"monotonic_ns", monotonicNanoseconds()}};
        nlohmann::json partList = nlohmann::json::array();
        const Part* file = nullptr;
        for (const auto& part : parts) {
            nlohmann::json item = {{"name", part.name}, {"size", part.content.size()}};
            if (part.fileName.empty()) {
                item["value"] = part.content;
            } else {
                item["filename"] = part.fileName;
                item["content_type"] = part.contentType;
                if (part.name == "file")
                    file = &part;
            }
            partList.push_back(item);
        }
        entry["parts"] = partList;
        entry["layout_exact"] =
            !parts.empty() &&
            std::to_string(promisedLayout(boundaryOf(contentType), parts).size()) == contentLength;

        auto answer = [&](int status, const std::string& body, const char* type) {
            std::this_thread::sleep_for(std::chrono::duration<double>(
                std::stod(directive("inference_delay_seconds").value_or("0"))));
            response.status = status;
            response.set_content(body, type);
            entry["status"] = status;
            record(kRecordVariable, entry);
        };
        if (!file) {
            answer(400, "Invalid request", "text/plain");
            return;
        }
        if (const char* directory = std::getenv("FAKE_WHISPER_AUDIO_DIR");
            directory && *directory) {
            std::ofstream(
                std::filesystem::path(directory) / ("inference-" + std::to_string(number) + ".wav"),
                std::ios::binary)
                << file->content;
        }
        std::string wavError;
        auto wav = quenda::test::parseWav(file->content, &wavError);
        if (wav) {
            entry["wav"] = {{"format", wav->format},
                            {"channels", wav->channels},
                            {"rate", wav->sampleRate},
                            {"bits", wav->bitsPerSample},
                            {"seconds", wav->seconds()}};
            if (!wav->isEngineFormat())
                wavError = "not 16 kHz mono 16-bit PCM";
        }
        if (!wavError.empty()) {
            entry["wav_error"] = wavError;
            answer(500, R"({"error":"failed to process audio"})", "application/json");
            return;
        }
        if (auto status = directive("inference_status")) {
            std::string type = directive("inference_content_type").value_or("application/json");
            answer(std::atoi(status->c_str()), directive("inference_body").value_or(""),
                   type.c_str());
            return;
        }
        if (auto body = directive("inference_body")) {
            std::string type = directive("inference_content_type").value_or("application/json");
            answer(200, *body, type.c_str());
            return;
        }
        std::string text;
        std::stringstream segments(
            directive("text_" + std::to_string(number)).value_or(directive("text").value_or("")));
        for (std::string segment; std::getline(segments, segment, '|');) {
            text += " " + segment + "\n";
        }
        answer(200, "{\"text\": " + jsonEscape(text) + "}", "application/json");
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
