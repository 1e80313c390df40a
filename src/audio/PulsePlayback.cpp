#include "audio/PulsePlayback.h"

#include "audio/OwnPlayback.h"
#include "audio/PulseConnection.h"

#include <pulse/proplist.h>
#include <pulse/stream.h>

#include <algorithm>

namespace quenda::audio {

PulsePlayback::PulsePlayback(std::string name) : name_(std::move(name)) {}

PulsePlayback::~PulsePlayback() = default;

void PulsePlayback::play(const std::vector<float>& samples, uint32_t sampleRate) {
    OwnPlaybackActivity activity;  // held until the sound has drained
    cancelled_ = false;
    PulseConnection* connection = nullptr;
    {
        std::lock_guard guard(connectionMutex_);
        if (connection_) {
            PulseConnection::Lock lock(*connection_);
            if (!connection_->isReady())
                connection_.reset();
        }
        if (!connection_)
            connection_ = std::make_unique<PulseConnection>("Quenda");
        connection = connection_.get();
    }

    PulseConnection::Lock lock(*connection);
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, sampleRate, 1};
    pa_proplist* properties = pa_proplist_new();
    markOwnPlayback(properties);
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "accessibility");
    pa_stream* stream = pa_stream_new_with_proplist(connection->context(), name_.c_str(), &format,
                                                    nullptr, properties);
    pa_proplist_free(properties);
    if (!stream)
        throw PulseFailure(connection->lastError());
    auto wake = [](pa_stream*, void* data) { static_cast<PulseConnection*>(data)->wakeWaiters(); };
    auto wakeOnRequest = [](pa_stream*, std::size_t, void* data) {
        static_cast<PulseConnection*>(data)->wakeWaiters();
    };
    pa_stream_set_state_callback(stream, wake, connection);
    pa_stream_set_write_callback(stream, wakeOnRequest, connection);
    stream_ = stream;

    int failure = 0;
    auto alive = [&] {
        return pa_stream_get_state(stream) == PA_STREAM_READY && connection->isReady();
    };
    if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) <
        0) {
        failure = connection->lastError();
    } else {
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) &&
               pa_stream_get_state(stream) != PA_STREAM_READY && connection->isReady())
            connection->wait();
        if (!alive())
            failure = connection->lastError();
    }

    std::size_t done = 0;
    const std::size_t total = samples.size() * sizeof(float);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    while (failure == 0 && done < total && !cancelled_ && alive()) {
        const std::size_t writable = pa_stream_writable_size(stream);
        if (writable == 0 || writable == static_cast<std::size_t>(-1)) {
            connection->wait();
            continue;
        }
        // Whole samples only.
        const std::size_t chunk = std::min(writable, total - done) / sizeof(float) * sizeof(float);
        if (chunk == 0) {
            connection->wait();
            continue;
        }
        if (pa_stream_write(stream, bytes + done, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            failure = connection->lastError();
        done += chunk;
    }
    if (failure == 0 && !cancelled_ && alive())
        connection->await(pa_stream_drain(
            stream,
            [](pa_stream*, int, void* data) { static_cast<PulseConnection*>(data)->wakeWaiters(); },
            connection));

    stream_ = nullptr;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    if (failure != 0)
        throw PulseFailure(failure);
}

void PulsePlayback::cancel() {
    std::lock_guard guard(connectionMutex_);
    cancelled_ = true;
    if (!connection_)
        return;
    PulseConnection::Lock lock(*connection_);
    if (stream_) {
        // Dropping what the server holds lets a running drain finish at once.
        if (auto* operation = pa_stream_flush(stream_, nullptr, nullptr))
            pa_operation_unref(operation);
    }
    connection_->wakeWaiters();
}

}  // namespace quenda::audio
