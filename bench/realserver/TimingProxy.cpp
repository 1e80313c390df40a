// Stands where the engine expects its speech server and times each exchange on the wire:
//
//   realserver-timing-proxy -m MODEL -l LANG --port N --host H
//
// starts the program named by QUENDA_TIMING_SERVER with the same arguments on a free port of
// its own, listens on N itself and relays every connection to it byte for byte. For each
// connection it appends one JSON line to the file named by QUENDA_TIMING_RECORD: the request
// line, and the monotonic times (ns) of the request's first and last byte and the answer's
// first and last byte. Its first line names the real server's port. SIGTERM ends both.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/LoopbackPorts.h"
#include "platform/Process.h"

namespace {

int64_t now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void record(const nlohmann::json& line) {
    if (const char* file = std::getenv("QUENDA_TIMING_RECORD"))
        std::ofstream(file, std::ios::app) << line.dump() << "\n";
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Relays one connection until both sides are done, timing it.
void relay(int client, uint16_t serverPort) {
    int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = loopback(serverPort);
    if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Not listening yet (the model is loading): refuse as the server itself would.
        ::close(server);
        ::close(client);
        return;
    }
    nlohmann::json times = {{"event", "exchange"}};
    std::string requestLine;
    int64_t requestFirst = 0, requestLast = 0, answerFirst = 0, answerLast = 0;
    std::vector<char> buffer(1 << 16);
    bool clientOpen = true, serverOpen = true;
    while (serverOpen) {
        pollfd fds[2] = {{client, clientOpen ? short(POLLIN) : short(0), 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            break;
        if (clientOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = ::read(client, buffer.data(), buffer.size());
            if (n <= 0) {
                clientOpen = false;
                ::shutdown(server, SHUT_WR);
            } else {
                requestLast = now();
                if (!requestFirst) {
                    requestFirst = requestLast;
                    requestLine.assign(buffer.data(), static_cast<size_t>(n));
                    requestLine = requestLine.substr(0, requestLine.find("\r\n"));
                }
                if (::send(server, buffer.data(), static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                    break;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(server, buffer.data(), buffer.size());
            if (n <= 0) {
                serverOpen = false;
            } else {
                answerLast = now();
                answerFirst = answerFirst ? answerFirst : answerLast;
                if (::send(client, buffer.data(), static_cast<size_t>(n), MSG_NOSIGNAL) != n)
                    break;
            }
        }
    }
    ::close(server);
    ::close(client);
    record({{"event", "exchange"},
            {"request", requestLine},
            {"request_first", requestFirst},
            {"request_last", requestLast},
            {"answer_first", answerFirst},
            {"answer_last", answerLast}});
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const char* program = std::getenv("QUENDA_TIMING_SERVER");
    uint16_t port = 0;
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--port")
            port = static_cast<uint16_t>(std::stoi(arguments[i + 1]));
    }
    const auto serverPort = quenda::findFreeLoopbackPort();
    if (!program || !port || !serverPort) {
        std::fprintf(stderr, "usage: QUENDA_TIMING_SERVER=program %s ... --port N ...\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--port")
            arguments[i + 1] = std::to_string(*serverPort);
    }
    // The real server is tied to this process: it gets SIGTERM when this one ends.
    auto server = quenda::Process::launch(program, arguments);
    record({{"event", "start"}, {"server_port", *serverPort}});
    ::signal(SIGTERM, [](int) { ::_exit(0); });

    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const auto address = loopback(port);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0)
        return 1;
    for (;;) {
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            relay(client, *serverPort);
        if (!server->isRunning())
            return 3;  // as the real server does for a model it cannot load
    }
}
