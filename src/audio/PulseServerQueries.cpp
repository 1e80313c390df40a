#include "audio/PulseServerQueries.h"

#include "audio/OwnPlayback.h"

#include <pulse/introspect.h>

namespace quenda::audio::queries {

namespace {

// Collects the entries of a list query; the library calls back once per entry and once more
// with `eol` set.
template <typename Info, typename Item>
struct Collector {
    PulseConnection* connection;
    Item (*convert)(const Info*);
    std::vector<Item> items;
    bool failed = false;

    static void callback(pa_context*, const Info* info, int eol, void* data) {
        auto* self = static_cast<Collector*>(data);
        if (eol == 0 && info)
            self->items.push_back(self->convert(info));
        self->failed = eol < 0;
        if (eol != 0)
            self->connection->wakeWaiters();
    }
};

// Runs a query started by `start` and returns what it collected. A query about one missing
// object fails with PA_ERR_NOENTITY, which is an empty answer rather than a failure.
template <typename Info, typename Item, typename Start>
std::vector<Item> collect(PulseConnection& connection, Item (*convert)(const Info*), Start start) {
    Collector<Info, Item> collector{&connection, convert, {}};
    PulseConnection::Lock lock(connection);
    const bool done =
        connection.await(start(connection.context(), &Collector<Info, Item>::callback, &collector));
    if (done && !collector.failed)
        return std::move(collector.items);
    if (connection.isReady() && pa_context_errno(connection.context()) == PA_ERR_NOENTITY)
        return {};
    throw PulseFailure(connection.lastError());
}

struct Success {
    PulseConnection* connection;
    bool ok = false;
    static void callback(pa_context*, int success, void* data) {
        auto* self = static_cast<Success*>(data);
        self->ok = success != 0;
        self->connection->wakeWaiters();
    }
};

SinkInput toSinkInput(const pa_sink_input_info* info) {
    return SinkInput{info->index,
                     info->sink,
                     info->client,
                     info->owner_module,
                     isOwnPlayback(info->proplist),
                     info->corked != 0};
}

// The one answer of a query by index or name, or nothing when the server knows no such entry.
template <typename Entry>
std::optional<Entry> firstOf(std::vector<Entry> found) {
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

Sink toSink(const pa_sink_info* info) {
    return Sink{info->index, info->name ? info->name : "", info->owner_module,
                info->monitor_source_name ? info->monitor_source_name : ""};
}

Module toModule(const pa_module_info* info) {
    return Module{info->index, info->name ? info->name : "", info->argument ? info->argument : ""};
}

}  // namespace

Defaults defaults(PulseConnection& connection) {
    struct Answer {
        PulseConnection* connection;
        Defaults names;
    } answer{&connection, {}};
    PulseConnection::Lock lock(connection);
    auto* operation = pa_context_get_server_info(
        connection.context(),
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* self = static_cast<Answer*>(data);
            if (info && info->default_sink_name)
                self->names.sink = info->default_sink_name;
            if (info && info->default_source_name)
                self->names.source = info->default_source_name;
            self->connection->wakeWaiters();
        },
        &answer);
    if (!connection.await(operation))
        throw PulseFailure(connection.lastError());
    return answer.names;
}

bool setDefaultSink(PulseConnection& connection, const std::string& name) {
    Success answer{&connection};
    PulseConnection::Lock lock(connection);
    return connection.await(pa_context_set_default_sink(connection.context(), name.c_str(),
                                                        &Success::callback, &answer)) &&
           answer.ok;
}

bool setDefaultSource(PulseConnection& connection, const std::string& name) {
    Success answer{&connection};
    PulseConnection::Lock lock(connection);
    return connection.await(pa_context_set_default_source(connection.context(), name.c_str(),
                                                          &Success::callback, &answer)) &&
           answer.ok;
}

std::vector<SinkInput> sinkInputs(PulseConnection& connection) {
    return collect<pa_sink_input_info, SinkInput>(
        connection, &toSinkInput, [](pa_context* c, pa_sink_input_info_cb_t cb, void* d) {
            return pa_context_get_sink_input_info_list(c, cb, d);
        });
}

std::optional<SinkInput> sinkInput(PulseConnection& connection, uint32_t index) {
    return firstOf(collect<pa_sink_input_info, SinkInput>(
        connection, &toSinkInput, [index](pa_context* c, pa_sink_input_info_cb_t cb, void* d) {
            return pa_context_get_sink_input_info(c, index, cb, d);
        }));
}

std::vector<Sink> sinks(PulseConnection& connection) {
    return collect<pa_sink_info, Sink>(connection, &toSink,
                                       [](pa_context* c, pa_sink_info_cb_t cb, void* d) {
                                           return pa_context_get_sink_info_list(c, cb, d);
                                       });
}

std::optional<Sink> sinkNamed(PulseConnection& connection, const std::string& name) {
    return firstOf(collect<pa_sink_info, Sink>(
        connection, &toSink, [&name](pa_context* c, pa_sink_info_cb_t cb, void* d) {
            return pa_context_get_sink_info_by_name(c, name.c_str(), cb, d);
        }));
}

std::vector<Module> modules(PulseConnection& connection) {
    return collect<pa_module_info, Module>(connection, &toModule,
                                           [](pa_context* c, pa_module_info_cb_t cb, void* d) {
                                               return pa_context_get_module_info_list(c, cb, d);
                                           });
}

uint32_t loadModule(PulseConnection& connection, const std::string& name,
                    const std::string& argument) {
    struct Answer {
        PulseConnection* connection;
        uint32_t index = PA_INVALID_INDEX;
    } answer{&connection};
    PulseConnection::Lock lock(connection);
    auto* operation = pa_context_load_module(
        connection.context(), name.c_str(), argument.c_str(),
        [](pa_context*, uint32_t index, void* data) {
            auto* self = static_cast<Answer*>(data);
            self->index = index;
            self->connection->wakeWaiters();
        },
        &answer);
    if (!connection.await(operation) || answer.index == PA_INVALID_INDEX)
        throw PulseFailure(connection.lastError());
    return answer.index;
}

bool unloadModule(PulseConnection& connection, uint32_t index) {
    Success answer{&connection};
    PulseConnection::Lock lock(connection);
    return connection.await(pa_context_unload_module(connection.context(), index,
                                                     &Success::callback, &answer)) &&
           answer.ok;
}

bool moveSinkInput(PulseConnection& connection, uint32_t index, const std::string& sinkName) {
    Success answer{&connection};
    PulseConnection::Lock lock(connection);
    return connection.await(pa_context_move_sink_input_by_name(
               connection.context(), index, sinkName.c_str(), &Success::callback, &answer)) &&
           answer.ok;
}

}  // namespace quenda::audio::queries
