#include "audio/PulseRecordStream.h"

namespace quenda::audio {

PulseRecordStream::PulseRecordStream(PulseConnection& connection, const Settings& settings,
                                     std::function<void(const void*, std::size_t)> onData,
                                     std::function<void()> onFailure)
    : connection_(connection), onData_(std::move(onData)), onFailure_(std::move(onFailure)) {
    PulseConnection::Lock lock(connection_);
    if (!connection_.isReady())
        throw PulseFailure(PA_ERR_CONNECTIONTERMINATED);
    stream_ =
        pa_stream_new(connection_.context(), settings.name.c_str(), &settings.format, nullptr);
    if (!stream_)
        throw PulseFailure(connection_.lastError());
    pa_stream_set_state_callback(stream_, &PulseRecordStream::onState, this);
    pa_stream_set_read_callback(stream_, &PulseRecordStream::onRead, this);

    pa_buffer_attr buffering;
    buffering.maxlength = static_cast<uint32_t>(-1);
    buffering.tlength = static_cast<uint32_t>(-1);
    buffering.prebuf = static_cast<uint32_t>(-1);
    buffering.minreq = static_cast<uint32_t>(-1);
    buffering.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(std::chrono::microseconds(kFragment).count(), &settings.format));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                (settings.followDevice ? 0 : PA_STREAM_DONT_MOVE));
    const char* device = settings.device.empty() ? nullptr : settings.device.c_str();

    int failure = 0;
    if (pa_stream_connect_record(stream_, device, &buffering, flags) < 0) {
        failure = connection_.lastError();
    } else {
        for (;;) {
            const auto state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state) || !connection_.isReady()) {
                failure = connection_.lastError();
                break;
            }
            connection_.wait();
        }
    }
    if (failure != 0) {
        disconnect();
        throw PulseFailure(failure);
    }
    running_ = true;
}

PulseRecordStream::~PulseRecordStream() {
    PulseConnection::Lock lock(connection_);
    disconnect();
}

void PulseRecordStream::disconnect() {
    running_ = false;
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseRecordStream::onState(pa_stream* stream, void* self) {
    auto* recorder = static_cast<PulseRecordStream*>(self);
    recorder->connection_.wakeWaiters();
    const auto state = pa_stream_get_state(stream);
    if (recorder->running_ && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        recorder->running_ = false;
        if (recorder->onFailure_)
            recorder->onFailure_();
    }
}

void PulseRecordStream::onRead(pa_stream* stream, std::size_t, void* self) {
    auto* recorder = static_cast<PulseRecordStream*>(self);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        if (data)  // null data with a size is a hole: nothing was recorded there
            recorder->onData_(data, bytes);
        pa_stream_drop(stream);
    }
}

}  // namespace quenda::audio
