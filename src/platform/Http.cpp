#include "platform/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>

namespace quenda::Http {

namespace {

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// The state of a body sent through HttpRequest::readBody.
struct BodyReader {
    const HttpRequest& request;
    uint64_t sent = 0;
    std::exception_ptr failure;
    bool endedEarly = false;
};

size_t readBody(char* data, size_t size, size_t count, void* source) {
    auto& reader = *static_cast<BodyReader*>(source);
    const size_t room = static_cast<size_t>(
        std::min<uint64_t>(size * count, reader.request.bodySize - reader.sent));
    if (room == 0)
        return 0;
    try {
        const size_t n = reader.request.readBody(reader.sent, std::span(data, room));
        // A body that ends early would leave the server waiting for the rest until the
        // time-out.
        if (n == 0 || n > room) {
            reader.endedEarly = true;
            return CURL_READFUNC_ABORT;
        }
        reader.sent += n;
        return n;
    } catch (...) {
        reader.failure = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

struct CurlHandle {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlHandle() {
        curl_slist_free_all(headers);
        if (handle)
            curl_easy_cleanup(handle);
    }
};

}  // namespace

void initializeOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse send(const HttpRequest& request) {
    initializeOnce();
    HttpResponse response;
    CurlHandle curl;
    if (!curl.handle) {
        response.transportError = "não foi possível criar a conexão HTTP";
        return response;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = curl.handle;
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(h, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);

    BodyReader reader{request, 0, nullptr, false};
    if (request.method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        if (request.method != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (request.readBody) {
            curl_easy_setopt(h, CURLOPT_READFUNCTION, readBody);
            curl_easy_setopt(h, CURLOPT_READDATA, &reader);
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.bodySize));
        } else {
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
        }
    }
    for (const auto& [name, value] : request.headers) {
        curl.headers = curl_slist_append(curl.headers, (name + ": " + value).c_str());
    }
    // Send large bodies at once instead of waiting for a "100 Continue" first.
    curl.headers = curl_slist_append(curl.headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, curl.headers);

    CURLcode result = curl_easy_perform(h);
    if (reader.failure)
        std::rethrow_exception(reader.failure);
    if (reader.endedEarly) {
        response.transportError = "o corpo da requisição terminou antes do tamanho anunciado";
        return response;
    }
    if (result != CURLE_OK) {
        response.transportError = errorText[0] ? errorText : curl_easy_strerror(result);
        response.body.clear();
        return response;
    }
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    char* contentType = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
    if (contentType)
        response.contentType = contentType;
    return response;
}

}  // namespace quenda::Http
