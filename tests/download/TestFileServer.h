#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace quenda::test {

// A local HTTP server on a free loopback port that serves one body in the ways a download can
// go, one path prefix each (whatever follows the prefix is ignored):
//   /full/...       the body with its length, in pieces with short pauses
//   /nolength/...   the body in chunks, no length announced
//   /status/N/...   status N with a small HTML error page
//   /empty/...      status 200 and no body
//   /cut/...        the length of the body, then half of it, then the connection closes
//   /slow/...       a long body trickling in slowly, until the client goes away
class TestFileServer {
  public:
    explicit TestFileServer(std::string body);
    ~TestFileServer();
    TestFileServer(const TestFileServer&) = delete;
    TestFileServer& operator=(const TestFileServer&) = delete;

    std::string url(const std::string& path) const;
    const std::string& body() const { return body_; }

  private:
    const std::string body_;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
};

// A body of `size` bytes that is not all one value.
std::string patternBody(size_t size);

}  // namespace quenda::test
