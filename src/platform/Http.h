#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenda {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // Not copied: the caller keeps the bytes alive until send() returns.
    std::string_view body;
    // Instead of `body`, a body of bodySize bytes produced piece by piece while it is sent:
    // readBody copies the bytes from `offset` on into `buffer`, as many as fit, and returns
    // how many it copied. An exception it throws ends the exchange and leaves send() as it
    // was thrown; a body that ends before bodySize bytes is a transport error.
    std::function<size_t(uint64_t offset, std::span<char> buffer)> readBody;
    uint64_t bodySize = 0;
    // The whole exchange (connect, send, wait, receive) must end within this time.
    std::chrono::milliseconds timeout{60000};
};

struct HttpResponse {
    // Set when no HTTP answer arrived (refused, timed out, reset ...): the transport's own
    // description. When it is set, status and body are meaningless.
    std::string transportError;
    long status = 0;
    std::string body;
    std::string contentType;

    bool answered() const { return transportError.empty(); }
};

// Blocking HTTP exchanges over libcurl. Safe to call from any number of threads at once.
// Redirects are not followed: the servers spoken to here are local.
namespace Http {

// Never throws, except what the request's readBody throws.
HttpResponse send(const HttpRequest& request);

inline HttpResponse get(std::string url, std::chrono::milliseconds timeout) {
    HttpRequest request;
    request.url = std::move(url);
    request.timeout = timeout;
    return send(request);
}

// Makes libcurl ready for use from several threads; send() calls it itself. Anything else that
// uses libcurl directly calls it before its first handle.
void initializeOnce();

}  // namespace Http

}  // namespace quenda
