#include "audio/RecorderPulse.h"

#include "audio/PulseConnection.h"
#include "audio/PulseRecordStream.h"
#include "audio/WavFileWriter.h"
#include "platform/Paths.h"
#include "platform/PlatformError.h"
#include "platform/Uuid.h"

#include <cstring>
#include <system_error>

namespace quenda::audio {

namespace {

constexpr uint32_t kSampleRate = 16000;

PlatformError microphoneUnavailable() {
    return PlatformError("Recorder", 1, "Microfone indisponível");
}

}  // namespace

struct RecorderPulse::Session {
    std::unique_ptr<PulseConnection> connection;
    std::unique_ptr<WavFileWriter> writer;
    std::unique_ptr<PulseRecordStream> stream;

    ~Session() {
        // The stream goes first, so that no block is written after the file is finished.
        stream.reset();
        if (writer)
            writer->finish();
    }
};

std::unique_ptr<Recorder> Recorder::create() {
    return std::make_unique<RecorderPulse>();
}

RecorderPulse::RecorderPulse() = default;

RecorderPulse::~RecorderPulse() {
    stop();
}

void RecorderPulse::requestPermission(std::function<void(bool granted)> completion) {
    // The sound server grants every local client its sources: there is nothing to ask.
    if (completion)
        completion(true);
}

void RecorderPulse::start() {
    std::lock_guard lock(mutex_);
    if (session_)
        return;
    const auto path = paths::temporaryDirectory() / ("brevimo-rec-" + makeUuidText() + ".wav");

    auto session = std::make_unique<Session>();
    try {
        session->connection = std::make_unique<PulseConnection>("Quenda");
    } catch (const PulseFailure&) {
        throw microphoneUnavailable();
    }
    try {
        session->writer = std::make_unique<WavFileWriter>(path, kSampleRate, 1);
    } catch (const std::system_error& error) {
        throw PlatformError("Recorder", error.code().value(),
                            "Não foi possível criar o arquivo da gravação: " +
                                std::string(std::strerror(error.code().value())));
    }

    PulseRecordStream::Settings settings;
    settings.name = "Ditado";
    settings.format = pa_sample_spec{PA_SAMPLE_S16LE, kSampleRate, 1};
    WavFileWriter* writer = session->writer.get();
    try {
        session->stream = std::make_unique<PulseRecordStream>(
            *session->connection, settings,
            // A block that cannot be written is lost; the recording goes on.
            [writer](const void* data, std::size_t bytes) { writer->append(data, bytes); },
            // A stream that dies (microphone unplugged, server gone) ends the recording early;
            // stop() still finishes the file with what arrived.
            [this] {
                if (onInterrupted)
                    onInterrupted("Gravação interrompida pelo servidor de som");
            });
    } catch (const PulseFailure&) {
        session.reset();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);  // nothing was recorded into it
        throw microphoneUnavailable();
    }
    session_ = std::move(session);
    outputURL_ = path;
}

std::optional<std::filesystem::path> RecorderPulse::stop() {
    std::lock_guard lock(mutex_);
    if (!session_)
        return std::nullopt;
    session_.reset();  // stops the stream, then completes and closes the file
    return outputURL_;
}

bool RecorderPulse::isRecording() const {
    std::lock_guard lock(mutex_);
    return session_ != nullptr;
}

std::optional<std::filesystem::path> RecorderPulse::outputURL() const {
    std::lock_guard lock(mutex_);
    return outputURL_;
}

}  // namespace quenda::audio
