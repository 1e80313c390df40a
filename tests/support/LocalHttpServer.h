// An HTTP server of the test's own on a free loopback port. Routes are added as on any
// httplib::Server, then start() serves them from a thread until the object goes.
#pragma once

#include <httplib.h>

#include <string>
#include <thread>

#include "support/TestSupport.h"

namespace quenda::test {

class LocalHttpServer : public httplib::Server {
  public:
    ~LocalHttpServer() override {
        stop();
        if (loop_.joinable())
            loop_.join();
    }

    void start() {
        port_ = bind_to_any_port("127.0.0.1");
        loop_ = std::thread([this] { listen_after_bind(); });
        // A stop() before the loop runs is ignored, and the join would then wait for ever.
        waitUntil([this] { return is_running(); });
    }
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    std::thread loop_;
    int port_ = 0;
};

}  // namespace quenda::test
