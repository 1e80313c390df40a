#include "TestFileServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace quenda::test {

namespace {

constexpr size_t kPiece = 64 * 1024;

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

std::string patternBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 31 + i / 997) % 251);
    return body;
}

TestFileServer::TestFileServer(std::string body)
    : body_(std::move(body)), server_(std::make_unique<httplib::Server>()) {
    auto& server = *server_;
    server.Get("/full/.*", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            body_.size(), "application/octet-stream",
            [this](size_t offset, size_t length, httplib::DataSink& sink) {
                pause(2);
                return sink.write(body_.data() + offset, std::min(length, kPiece));
            });
    });
    server.Get("/nolength/.*", [this](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= body_.size()) {
                    sink.done();
                    return true;
                }
                pause(2);
                return sink.write(body_.data() + offset, std::min(body_.size() - offset, kPiece));
            });
    });
    server.Get(R"(/status/(\d+)/.*)",
               [](const httplib::Request& request, httplib::Response& response) {
                   response.status = std::stoi(request.matches[1]);
                   response.set_content("<html><body>Error page</body></html>", "text/html");
               });
    server.Get("/empty/.*", [](const httplib::Request&, httplib::Response& response) {
        response.status = 200;
        response.set_content("", "application/octet-stream");
    });
    server.Get("/cut/.*", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            body_.size(), "application/octet-stream",
            [this](size_t offset, size_t length, httplib::DataSink& sink) {
                if (offset >= body_.size() / 2)
                    return false;  // the connection is closed here
                pause(2);
                return sink.write(body_.data() + offset,
                                  std::min({length, kPiece, body_.size() / 2 - offset}));
            });
    });
    server.Get("/slow/.*", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(size_t{1} << 30, "application/octet-stream",
                                      [this](size_t, size_t, httplib::DataSink& sink) {
                                          if (stopping_)
                                              return false;
                                          pause(20);
                                          return sink.write(body_.data(),
                                                            std::min<size_t>(body_.size(), 4096));
                                      });
    });

    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("the test server cannot bind a loopback port");
    // The socket already listens; connections wait in its backlog until the loop accepts them.
    thread_ = std::thread([&server] { server.listen_after_bind(); });
    // stop() is ignored until the accept loop runs; wait for it so the destructor can end it.
    while (!server.is_running())
        pause(1);
}

TestFileServer::~TestFileServer() {
    stopping_ = true;
    server_->stop();
    thread_.join();
}

std::string TestFileServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace quenda::test
