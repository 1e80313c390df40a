#include "platform/LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quenda {

namespace {

// Binds a fresh socket to 127.0.0.1:`port` (0 = any) without SO_REUSEPORT; returns the bound
// port, or nothing when the bind fails. SO_REUSEADDR lets a port whose old connections linger
// in TIME_WAIT count as free, while a listening socket still makes the bind fail.
std::optional<uint16_t> bindLoopback(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::optional<uint16_t> bound;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            bound = ntohs(address.sin_port);
        }
    }
    ::close(fd);
    return bound;
}

}  // namespace

bool isLoopbackPortFree(uint16_t port) {
    return bindLoopback(port).has_value();
}

std::optional<uint16_t> findFreeLoopbackPort() {
    return bindLoopback(0);
}

}  // namespace quenda
