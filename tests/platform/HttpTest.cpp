#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <httplib.h>

#include <thread>

#include "platform/Http.h"
#include "platform/LoopbackPorts.h"

namespace quenda {
namespace {

using namespace std::chrono_literals;

// A cpp-httplib server on a free loopback port, running on its own thread.
class LocalServer {
  public:
    LocalServer() {
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
    }
    ~LocalServer() {
        server.stop();
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int port() const { return port_; }
    httplib::Server server;

  private:
    int port_ = 0;
    std::thread thread_;
};

TEST(Http, GetAndPostCarryStatusBodyHeadersAndContentType) {
    LocalServer local;
    local.server.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("não há", "text/plain");
    });
    std::string receivedBody, receivedHeader;
    local.server.Post("/echo", [&](const httplib::Request& request, httplib::Response& response) {
        receivedBody = request.body;
        receivedHeader = request.get_header_value("X-Quenda");
        response.set_content("{\"ok\":true}", "application/json");
    });

    auto missing = Http::get(local.url("/missing"), 2s);
    ASSERT_TRUE(missing.answered()) << missing.transportError;
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "não há");

    std::string body("binário\0com zero", 17);
    HttpRequest post;
    post.method = "POST";
    post.url = local.url("/echo");
    post.headers = {{"X-Quenda", "sim"}, {"Content-Type", "application/octet-stream"}};
    post.body = body;
    post.timeout = 2s;
    auto answer = Http::send(post);
    ASSERT_TRUE(answer.answered()) << answer.transportError;
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, "application/json");
    EXPECT_EQ(receivedBody, body);
    EXPECT_EQ(receivedHeader, "sim");
}

TEST(Http, TransportFailuresAreDescribedNotAnswered) {
    auto port = findFreeLoopbackPort();
    ASSERT_TRUE(port);
    auto refused = Http::get("http://127.0.0.1:" + std::to_string(*port) + "/", 2s);
    EXPECT_FALSE(refused.answered());
    EXPECT_NE(refused.transportError.find("onnect"), std::string::npos) << refused.transportError;

    LocalServer slow;
    slow.server.Get("/slow", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(1500ms);
        response.set_content("tarde", "text/plain");
    });
    auto start = std::chrono::steady_clock::now();
    auto timedOut = Http::get(slow.url("/slow"), 200ms);
    EXPECT_FALSE(timedOut.answered());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1400ms);
    EXPECT_TRUE(timedOut.body.empty());
}

TEST(LoopbackPorts, APortWithAListenerIsTakenEvenWhenItAllowsSharing) {
    auto port = findFreeLoopbackPort();
    ASSERT_TRUE(port);
    EXPECT_TRUE(isLoopbackPortFree(*port));

    // Listen the way the whisper.cpp server does: SO_REUSEADDR and SO_REUSEPORT.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(*port);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    EXPECT_FALSE(isLoopbackPortFree(*port));
    ::close(fd);
    EXPECT_TRUE(isLoopbackPortFree(*port));
}

}  // namespace
}  // namespace quenda
