#include "audio/SystemAudioCapturePulse.h"

#include "audio/OwnPlayback.h"
#include "audio/PulseConnection.h"
#include "audio/PulseRecordStream.h"
#include "audio/PulseServerQueries.h"
#include "platform/PlatformError.h"

#include <cstring>

namespace quenda::audio {

namespace {

constexpr const char* kDomain = "SystemAudioCapture";
constexpr uint32_t kSampleRate = 16000;

}  // namespace

std::unique_ptr<SystemAudioCapture> SystemAudioCapture::create() {
    return std::make_unique<SystemAudioCapturePulse>();
}

SystemAudioCapturePulse::SystemAudioCapturePulse() = default;

SystemAudioCapturePulse::~SystemAudioCapturePulse() {
    stop();
}

void SystemAudioCapturePulse::start() {
    std::lock_guard lock(mutex_);
    if (stream_)
        return;
    std::unique_ptr<PulseConnection> connection;
    try {
        connection = std::make_unique<PulseConnection>("Quenda");
    } catch (const PulseFailure& failure) {
        throw PlatformError(kDomain, 2, "Servidor de som indisponível");
    }

    std::optional<queries::Sink> output;
    try {
        const auto name = queries::defaults(*connection).sink;
        if (!name.empty())
            output = queries::sinkNamed(*connection, name);
    } catch (const PulseFailure&) {
    }
    if (!output || output->monitorSource.empty())
        throw PlatformError(kDomain, 1, "Nenhuma saída de áudio disponível");

    PulseRecordStream::Settings settings;
    settings.name = "Áudio do sistema";
    settings.format = pa_sample_spec{PA_SAMPLE_FLOAT32LE, kSampleRate, 1};
    settings.device = output->monitorSource;
    try {
        stream_ = std::make_unique<PulseRecordStream>(
            *connection, settings,
            [this](const void* data, std::size_t bytes) { deliver(data, bytes); },
            [this] { reportFailure(); });
    } catch (const PulseFailure& failure) {
        throw PlatformError(kDomain, 3,
                            "Não foi possível capturar o áudio do sistema (erro " +
                                std::to_string(failure.code()) + ")");
    }
    connection_ = std::move(connection);
}

void SystemAudioCapturePulse::stop() {
    std::unique_ptr<PulseConnection> connection;
    std::unique_ptr<PulseRecordStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
        connection = std::move(connection_);
    }
    stream.reset();  // no delivery is queued after this
    connection.reset();
    // Outside the lock: a callback that is running may itself call stop().
    queue_.sync([] {});
}

void SystemAudioCapturePulse::deliver(const void* data, std::size_t bytes) {
    std::vector<float> samples(bytes / sizeof(float));
    // Our own speech must not reach the translator: while it plays, deliver silence instead.
    if (!ownPlaybackAudible())
        std::memcpy(samples.data(), data, samples.size() * sizeof(float));
    queue_.async([this, samples = std::move(samples)]() mutable {
        if (onSamples)
            onSamples(std::move(samples));
    });
}

void SystemAudioCapturePulse::reportFailure() {
    queue_.async([this] {
        if (onError)
            onError("o servidor de som interrompeu a captura do áudio do sistema");
    });
}

}  // namespace quenda::audio
