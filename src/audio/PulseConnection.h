#pragma once

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace quenda::audio {

// A failed PulseAudio request: `code` is the library's error number (PA_ERR_...).
class PulseFailure : public std::runtime_error {
  public:
    explicit PulseFailure(int code);
    int code() const { return code_; }

  private:
    int code_;
};

// One client connection to the sound server, driven by a PulseAudio threaded main loop: the
// library's callbacks run on the loop's own thread. Every component that talks to the server
// holds one of these.
//
// Rules: calls into the library are made with the loop locked (Lock); blocking helpers such as
// await() must never run on the loop's thread; callbacks on the loop's thread must not block.
class PulseConnection {
  public:
    // Connects to the default server (PULSE_SERVER or the session's) without autospawning one;
    // throws PulseFailure when there is no server or it refuses the connection. `properties`
    // (optional) are the client's own; the library fills in the ones it lacks.
    explicit PulseConnection(const std::string& clientName,
                             const pa_proplist* properties = nullptr);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Holds the loop's lock for its scope (recursive, so nesting on one thread is fine).
    class Lock {
      public:
        explicit Lock(PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* context() const { return context_; }

    // True while the connection is up (call with the loop locked).
    bool isReady() const;

    // The library's last error number for this connection (call with the loop locked).
    int lastError() const;

    // Waits, with the loop locked, until `operation` finishes or the connection drops; releases
    // the operation. Returns false when the connection dropped (or `operation` is null).
    bool await(pa_operation* operation);

    // Sleeps until a callback calls wakeWaiters() (with the loop locked, not on its thread).
    void wait();
    // Wakes every thread sleeping in wait() or await(); for callbacks on the loop's thread.
    void wakeWaiters();

    // Receives the events of `mask` on the loop's thread. Set with the loop locked; replaces
    // any earlier handler. Returns false when the server refused the subscription.
    bool subscribe(pa_subscription_mask_t mask,
                   std::function<void(pa_subscription_event_type_t, uint32_t)> handler);

  private:
    void release();
    static void onContextState(pa_context* context, void* self);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::function<void(pa_subscription_event_type_t, uint32_t)> eventHandler_;
};

}  // namespace quenda::audio
