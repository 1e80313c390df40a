#include "audio/PulseConnection.h"

#include <pulse/error.h>

namespace quenda::audio {

PulseFailure::PulseFailure(int code) : std::runtime_error(pa_strerror(code)), code_(code) {}

PulseConnection::PulseConnection(const std::string& clientName, const pa_proplist* properties) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        throw PulseFailure(PA_ERR_INTERNAL);
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), clientName.c_str(),
                                            properties);
    if (!context_) {
        pa_threaded_mainloop_free(loop_);
        throw PulseFailure(PA_ERR_INTERNAL);
    }
    pa_context_set_state_callback(context_, &PulseConnection::onContextState, this);

    int failure = 0;
    if (pa_threaded_mainloop_start(loop_) < 0) {
        failure = PA_ERR_INTERNAL;
    } else {
        Lock lock(*this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            failure = pa_context_errno(context_);
        } else {
            for (;;) {
                const auto state = pa_context_get_state(context_);
                if (state == PA_CONTEXT_READY)
                    break;
                if (!PA_CONTEXT_IS_GOOD(state)) {
                    failure = pa_context_errno(context_);
                    break;
                }
                wait();
            }
        }
    }
    if (failure != 0) {
        release();
        throw PulseFailure(failure == PA_OK ? PA_ERR_CONNECTIONREFUSED : failure);
    }
}

PulseConnection::~PulseConnection() {
    release();
}

void PulseConnection::release() {
    if (context_) {
        {
            Lock lock(*this);
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        context_ = nullptr;
    }
    if (loop_) {
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

PulseConnection::Lock::Lock(PulseConnection& connection) : loop_(connection.loop_) {
    pa_threaded_mainloop_lock(loop_);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(loop_);
}

bool PulseConnection::isReady() const {
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int PulseConnection::lastError() const {
    const int code = pa_context_errno(context_);
    return code == PA_OK ? PA_ERR_UNKNOWN : code;
}

bool PulseConnection::await(pa_operation* operation) {
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && isReady())
        wait();
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

void PulseConnection::wait() {
    pa_threaded_mainloop_wait(loop_);
}

void PulseConnection::wakeWaiters() {
    pa_threaded_mainloop_signal(loop_, 0);
}

bool PulseConnection::subscribe(
    pa_subscription_mask_t mask,
    std::function<void(pa_subscription_event_type_t, uint32_t)> handler) {
    eventHandler_ = std::move(handler);
    pa_context_set_subscribe_callback(context_, &PulseConnection::onEvent, this);
    struct Result {
        PulseConnection* connection;
        bool accepted = false;
    } result{this};
    auto* operation = pa_context_subscribe(
        context_, mask,
        [](pa_context*, int success, void* data) {
            auto* r = static_cast<Result*>(data);
            r->accepted = success != 0;
            r->connection->wakeWaiters();
        },
        &result);
    return await(operation) && result.accepted;
}

void PulseConnection::onContextState(pa_context*, void* self) {
    // Wakes waiters on every change: a connection that drops must end their waits too.
    static_cast<PulseConnection*>(self)->wakeWaiters();
}

void PulseConnection::onEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index,
                              void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (connection->eventHandler_)
        connection->eventHandler_(type, index);
}

}  // namespace quenda::audio
