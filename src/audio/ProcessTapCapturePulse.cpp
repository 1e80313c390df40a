#include "audio/ProcessTapCapturePulse.h"

#include "audio/PulseConnection.h"
#include "audio/PulseRecordStream.h"
#include "audio/PulseServerQueries.h"
#include "platform/PlatformError.h"

#include <cstring>

namespace quenda::audio {

namespace {

constexpr uint32_t kSampleRate = 16000;

const std::string kMonitorName = std::string(ProcessTapCapturePulse::kSinkName) + ".monitor";

// The failure of one step of start(): "<what> falhou (<code>)".
[[noreturn]] void fail(const std::string& what, int code) {
    throw PlatformError("ProcessTapCapture", code, what + " falhou (" + std::to_string(code) + ")");
}

bool isCaptureLoopback(const queries::Module& module) {
    return module.name == "module-loopback" &&
           module.argument.find("source=" + kMonitorName) != std::string::npos;
}

}  // namespace

std::unique_ptr<ProcessTapCapture> ProcessTapCapture::create() {
    return std::make_unique<ProcessTapCapturePulse>();
}

ProcessTapCapturePulse::ProcessTapCapturePulse(std::filesystem::path movedStreamsFile)
    : movedFile_(std::move(movedStreamsFile)) {}

ProcessTapCapturePulse::~ProcessTapCapturePulse() {
    stop();
}

void ProcessTapCapturePulse::start(bool muteOriginal) {
    controlQueue_.sync([this, muteOriginal] { startNow(muteOriginal); });
}

void ProcessTapCapturePulse::stop() {
    controlQueue_.sync([this] { stopNow(); });
    deliveryQueue_.sync([] {});  // the last block has been delivered
}

void ProcessTapCapturePulse::startNow(bool muteOriginal) {
    if (running_)
        return;
    if (connection_)
        stopNow();  // the remains of a start that failed

    try {
        connection_ = std::make_unique<PulseConnection>("Quenda");
    } catch (const PulseFailure& failure) {
        fail("conectar ao servidor de som", failure.code());
    }
    PulseConnection& connection = *connection_;
    // Watch for new streams before the first look at them, so that none slips through.
    {
        PulseConnection::Lock lock(connection);
        const bool watching = connection.subscribe(
            PA_SUBSCRIPTION_MASK_SINK_INPUT,
            [this](pa_subscription_event_type_t type, uint32_t index) {
                if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW)
                    controlQueue_.async([this, index] { adoptNewStream(index); });
            });
        if (!watching)
            fail("acompanhar os fluxos de áudio", connection.lastError());
    }

    try {
        auto leftBehind = movedFile_.load();
        restoreAndRemove(connection, leftBehind, queries::defaults(connection).sink);
    } catch (const PulseFailure& failure) {
        fail("desfazer a captura anterior", failure.code());
    }

    queries::Defaults before;
    try {
        before = queries::defaults(connection);
        outputSink_ = before.sink;
    } catch (const PulseFailure& failure) {
        fail("obter o dispositivo de saída", failure.code());
    }
    if (outputSink_.empty())
        fail("obter o dispositivo de saída", PA_ERR_NOENTITY);

    try {
        queries::loadModule(connection, "module-null-sink",
                            std::string("sink_name=") + kSinkName +
                                " sink_properties=device.description=" + kSinkName);
        const auto sink = queries::sinkNamed(connection, kSinkName);
        if (!sink)
            throw PulseFailure(PA_ERR_NOENTITY);
        captureSink_ = sink->index;
        // Some desktops switch to every new device; ours must never become the output or the
        // microphone.
        const auto after = queries::defaults(connection);
        if (after.sink == kSinkName)
            queries::setDefaultSink(connection, outputSink_);
        if (after.source == kMonitorName && !before.source.empty())
            queries::setDefaultSource(connection, before.source);
    } catch (const PulseFailure& failure) {
        fail("criar o dispositivo de captura", failure.code());
    }

    if (!muteOriginal) {
        try {
            queries::loadModule(connection, "module-loopback",
                                "source=" + kMonitorName + " sink=\"" + outputSink_ +
                                    "\" source_dont_move=true sink_dont_move=true"
                                    " latency_msec=30");
        } catch (const PulseFailure& failure) {
            fail("manter o áudio original audível", failure.code());
        }
    }

    PulseRecordStream::Settings settings;
    settings.name = "Captura dos aplicativos";
    settings.format = pa_sample_spec{PA_SAMPLE_FLOAT32LE, kSampleRate, 1};
    settings.device = kMonitorName;
    settings.followDevice = false;
    try {
        stream_ = std::make_unique<PulseRecordStream>(
            connection, settings,
            [this](const void* data, std::size_t bytes) { deliver(data, bytes); }, [] {});
    } catch (const PulseFailure& failure) {
        fail("iniciar a captura", failure.code());
    }

    running_ = true;
    try {
        for (const auto& stream : queries::sinkInputs(connection)) {
            if (shouldMove(stream))
                moveToCapture(stream);
            else if (stream.sink == captureSink_ && !isApplicationStream(stream))
                // Moved there by a desktop that switches to new devices: not ours to capture.
                queries::moveSinkInput(connection, stream.index, outputSink_);
        }
    } catch (const PulseFailure& failure) {
        running_ = false;
        fail("desviar o áudio dos aplicativos", failure.code());
    }
}

void ProcessTapCapturePulse::stopNow() {
    running_ = false;
    stream_.reset();
    if (!connection_)
        return;  // start() never reached the server: nothing to undo
    // The connection may have been dropped by the server; a new one can still clean up.
    bool ready = false;
    {
        PulseConnection::Lock lock(*connection_);
        ready = connection_->isReady();
    }
    if (!ready) {
        connection_.reset();
        try {
            connection_ = std::make_unique<PulseConnection>("Quenda");
        } catch (const PulseFailure&) {
            // No server any more: what it held (sink, loopback, streams) went with it.
        }
    }
    if (connection_) {
        try {
            restoreAndRemove(*connection_, moved_, outputSink_);
        } catch (const PulseFailure&) {
            // The server went away meanwhile; its sinks and streams went with it.
        }
    }
    connection_.reset();
    moved_.clear();
    captureSink_ = UINT32_MAX;
}

void ProcessTapCapturePulse::adoptNewStream(uint32_t index) {
    if (!running_ || !connection_)
        return;
    try {
        if (auto stream = queries::sinkInput(*connection_, index); stream && shouldMove(*stream))
            moveToCapture(*stream);
    } catch (const PulseFailure&) {
        // The stream or the connection is gone; stop() cleans up whatever remains.
    }
}

bool ProcessTapCapturePulse::isApplicationStream(const queries::SinkInput& stream) {
    // Another application's: the server's own streams (such as our loopback) have no client.
    return stream.client != PA_INVALID_INDEX && !stream.ownPlayback;
}

bool ProcessTapCapturePulse::shouldMove(const queries::SinkInput& stream) const {
    return isApplicationStream(stream) && stream.sink != captureSink_;
}

void ProcessTapCapturePulse::moveToCapture(const queries::SinkInput& stream) {
    std::string origin;
    for (const auto& sink : queries::sinks(*connection_)) {
        if (sink.index == stream.sink)
            origin = sink.name;
    }
    if (origin.empty())
        origin = outputSink_;
    // Recorded before the move: a crash right after it must still find the way back.
    moved_[stream.index] = origin;
    movedFile_.save(moved_);
    if (!queries::moveSinkInput(*connection_, stream.index, kSinkName)) {
        moved_.erase(stream.index);
        movedFile_.save(moved_);
    }
}

void ProcessTapCapturePulse::giveBackLeftovers(const std::filesystem::path& movedStreamsFile) {
    ProcessTapCapturePulse capture(movedStreamsFile);
    capture.controlQueue_.sync([&capture] {
        try {
            PulseConnection connection("Quenda");
            capture.restoreAndRemove(connection, capture.movedFile_.load(),
                                     queries::defaults(connection).sink);
        } catch (const PulseFailure&) {
            // No sound server: nothing can have been left on it.
        }
    });
}

void ProcessTapCapturePulse::restoreAndRemove(PulseConnection& connection,
                                              const MovedStreamsFile::Streams& moved,
                                              std::string fallbackSink) {
    const auto capture = queries::sinkNamed(connection, kSinkName);
    if (capture) {
        if (fallbackSink.empty() || fallbackSink == kSinkName) {
            fallbackSink.clear();
            for (const auto& sink : queries::sinks(connection)) {
                if (sink.name != kSinkName && fallbackSink.empty())
                    fallbackSink = sink.name;
            }
        }
        for (const auto& stream : queries::sinkInputs(connection)) {
            if (stream.sink != capture->index)
                continue;
            const auto origin = moved.find(stream.index);
            // The original sink may be gone (unplugged); the output then takes the stream.
            if (origin == moved.end() ||
                !queries::moveSinkInput(connection, stream.index, origin->second))
                queries::moveSinkInput(connection, stream.index, fallbackSink);
        }
    }
    for (const auto& module : queries::modules(connection)) {
        if (isCaptureLoopback(module))
            queries::unloadModule(connection, module.index);
    }
    if (capture && capture->ownerModule != PA_INVALID_INDEX)
        queries::unloadModule(connection, capture->ownerModule);
    movedFile_.remove();
}

void ProcessTapCapturePulse::deliver(const void* data, std::size_t bytes) {
    std::vector<float> samples(bytes / sizeof(float));
    std::memcpy(samples.data(), data, samples.size() * sizeof(float));
    deliveryQueue_.async([this, samples = std::move(samples)]() mutable {
        if (onSamples)
            onSamples(std::move(samples));
    });
}

}  // namespace quenda::audio
