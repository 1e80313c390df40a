#include <curl/curl.h>

#include <cerrno>
#include <memory>

#include "download/HttpFileFetch.h"
#include "platform/Http.h"

namespace quenda::HttpFileFetch {

namespace {

struct Transfer {
    Transfer(files::SiblingTempFile& target, const Hooks& callbacks)
        : file(target), hooks(callbacks) {}

    files::SiblingTempFile& file;
    const Hooks& hooks;
    int64_t received = 0;
    int64_t lastReported = -1;
    bool cancelled = false;
    std::error_code writeError;

    bool checkCancelled() {
        if (!cancelled && hooks.isCancelled && hooks.isCancelled())
            cancelled = true;
        return cancelled;
    }
};

size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t length = size * count;
    if (transfer.checkCancelled())
        return 0;  // any short count makes libcurl stop with a write error
    if (auto error = transfer.file.write({data, length})) {
        transfer.writeError = error;
        return 0;
    }
    transfer.received += static_cast<int64_t>(length);
    return length;
}

int onTick(void* context, curl_off_t expected, curl_off_t, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.checkCancelled())
        return 1;
    if (transfer.received != transfer.lastReported && transfer.hooks.onProgress) {
        transfer.lastReported = transfer.received;
        transfer.hooks.onProgress(transfer.received, static_cast<int64_t>(expected));
    }
    return 0;
}

DownloadFailure transportFailure(CURL* handle, CURLcode code, const char* errorText) {
    using Kind = DownloadFailure::Kind;
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return DownloadFailure::of(Kind::invalidAddress);
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return DownloadFailure::of(Kind::hostNotFound);
        case CURLE_COULDNT_CONNECT: {
            long osError = 0;
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError);
            return DownloadFailure::of(osError == ECONNREFUSED ? Kind::connectionRefused
                                                               : Kind::cannotConnect);
        }
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return DownloadFailure::of(Kind::connectionLost);
        case CURLE_OPERATION_TIMEDOUT:
            return DownloadFailure::of(Kind::stalled);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return DownloadFailure::of(Kind::secureConnection);
        case CURLE_TOO_MANY_REDIRECTS:
            return DownloadFailure::of(Kind::tooManyRedirects);
        case CURLE_HTTP_RETURNED_ERROR: {
            long status = 0;
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
            return DownloadFailure::status(status);
        }
        default:
            break;
    }
    DownloadFailure failure = DownloadFailure::of(Kind::other);
    failure.detail = errorText[0] ? errorText : curl_easy_strerror(code);
    return failure;
}

struct HandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

}  // namespace

bool isValidAddress(const std::string& address) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return false;
    const std::string name = scheme;
    curl_free(scheme);
    return name == "http" || name == "https";
}

std::optional<DownloadFailure> fetchToFile(const std::string& address, files::SiblingTempFile& file,
                                           const Hooks& hooks, std::chrono::seconds stallLimit) {
    Http::initializeOnce();
    std::unique_ptr<CURL, HandleDeleter> curl(curl_easy_init());
    if (!curl) {
        DownloadFailure failure = DownloadFailure::of(DownloadFailure::Kind::other);
        failure.detail = "não foi possível criar a conexão HTTP";
        return failure;
    }
    CURL* h = curl.get();
    Transfer transfer(file, hooks);
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The model repository answers with a redirect to its file store.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // An error page must never be taken for the file.
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Quenda");
    // No overall limit (a big model on a slow line takes long), but a silent connection ends.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallLimit.count()));
    // Fewer, larger writes; the body still never sits in memory beyond this buffer.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onTick);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);

    const CURLcode code = curl_easy_perform(h);
    if (transfer.cancelled)
        return DownloadFailure::of(DownloadFailure::Kind::cancelled);
    if (transfer.writeError)
        return DownloadFailure::writing(file.path(), transfer.writeError);
    if (code != CURLE_OK)
        return transportFailure(h, code, errorText);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        return DownloadFailure::status(status);
    curl_off_t announced = -1;
    curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced >= 0 && announced != transfer.received)
        return DownloadFailure::of(DownloadFailure::Kind::connectionLost);
    if (transfer.received == 0)
        return DownloadFailure::of(DownloadFailure::Kind::emptyBody);
    if (hooks.onProgress && transfer.received != transfer.lastReported)
        hooks.onProgress(transfer.received, announced);
    return std::nullopt;
}

}  // namespace quenda::HttpFileFetch
