#include "live/LiveTranslator.h"

#include <cmath>

#include "live/GraphemeCount.h"

namespace quenda::live {

namespace {

const std::string kOllamaOffline =
    "Ollama não está rodando — a tradução precisa dele. Inicie com: ollama serve";
const std::string kStartFailure = "Não foi possível iniciar: ";
// What to check on this platform when the speech server or the sound capture cannot start.
const std::string kStartHint = ". Verifique se o PulseAudio ou o PipeWire está rodando.";
const std::string kMuteFailure = "Aviso: não deu para silenciar a fonte (";
const std::string kMuteFailureEnd = "); seguindo com o áudio original audível.";
const std::string kCaptureStopped = "Captura interrompida: ";
const std::string kWarning = "Aviso: ";

// The run whose report this thread is making, if any (so that a stop made from inside a
// callback does not wait for itself).
thread_local const void* reportingRun = nullptr;

std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "erro desconhecido";
    }
}

}  // namespace

// Squares are summed in double precision so that a chunk whose every sample is exactly the
// threshold does not come out above it by rounding; the rms is compared in single precision.
bool LiveTranslator::isAudible(std::span<const float> chunk) {
    if (chunk.empty())
        return false;
    double sum = 0;
    for (float sample : chunk)
        sum += static_cast<double>(sample) * static_cast<double>(sample);
    const auto rms = static_cast<float>(std::sqrt(sum / static_cast<double>(chunk.size())));
    return rms > silenceThreshold;
}

struct LiveTranslator::Run {
    uint64_t id = 0;
    std::string sourceLanguage;
    std::string modelID;
    bool speak = true;
    bool muteOriginal = false;

    std::atomic<bool> active{true};
    // Requested when the run stops, so that a server still loading for it is given up at once.
    std::stop_source serverStart;
    // Chunks of this run queued on or being processed by the process queue.
    std::atomic<int> pendingChunks{0};

    // Guarded by the translator's mutex_.
    bool usingTap = false;
    int reportsInProgress = 0;

    // Samples not yet cut into a chunk.
    std::mutex bufferMutex;
    std::vector<float> buffer;
};

LiveTranslator::LiveTranslator(LiveServices services) : services_(std::move(services)) {
    // The monitor capture lives as long as the translator; its callbacks are set once and go
    // to whichever run started it.
    services_.monitorCapture->onSamples = [this](std::vector<float> samples) {
        if (auto run = monitorRun())
            append(run, std::move(samples));
    };
    services_.monitorCapture->onError = [this](const std::string& description) {
        if (auto run = monitorRun())
            stopRun(run, kCaptureStopped + description, true);
    };
    services_.synthesizer->onError = [this](const std::string& description) {
        if (auto run = currentRun())
            warn(*run, kWarning + description);
    };
}

LiveTranslator::~LiveTranslator() {
    if (auto run = currentRun())
        stopRun(run, std::nullopt, false);
    controlQueue_.sync([] {});         // every run's captures are shut down
    services_.monitorCapture->stop();  // no delivery after this
    services_.synthesizer.reset();     // nor a report of the synthesiser
    // The process queue, destroyed next, waits for the chunk under way; queued ones return at
    // once.
}

std::shared_ptr<LiveTranslator::Run> LiveTranslator::currentRun() {
    std::lock_guard lock(mutex_);
    return run_;
}

std::shared_ptr<LiveTranslator::Run> LiveTranslator::monitorRun() {
    std::lock_guard lock(mutex_);
    return monitorRun_;
}

void LiveTranslator::start(const std::string& sourceLanguage, const std::string& modelID,
                           bool speak, bool muteOriginal) {
    auto run = std::make_shared<Run>();
    run->id = ++lastRunID_;
    run->sourceLanguage = sourceLanguage;
    run->modelID = modelID;
    run->speak = speak;
    run->muteOriginal = muteOriginal;
    {
        std::lock_guard lock(mutex_);
        if (run_)
            return;  // already running: the arguments are not taken
        run_ = run;
    }

    if (!services_.model->isAvailable()) {
        stopRun(run, kOllamaOffline, true);
        return;
    }
    reportFor(*run, [&] {
        if (onStatus)
            onStatus(services_.statusText("live.status.preparing"));
    });
    controlQueue_.async([this, run] { startUp(run); });
}

void LiveTranslator::stop(const std::optional<std::string>& reason) {
    if (auto run = currentRun())
        stopRun(run, reason, true);
}

void LiveTranslator::stopRun(const std::shared_ptr<Run>& run,
                             const std::optional<std::string>& reason, bool notify) {
    {
        std::unique_lock lock(mutex_);
        if (!run->active || run_ != run)
            return;
        run->active = false;
        run_.reset();
        // A report of this run that is being made now finishes before the run counts as
        // stopped; none starts afterwards.
        const int own = reportingRun == run.get() ? 1 : 0;
        reportsDone_.wait(lock, [&] { return run->reportsInProgress <= own; });
    }
    run->serverStart.request_stop();
    // Captures are shut down in the background, before any later run starts its own.
    controlQueue_.async([this, id = run->id] { shutDownCaptures(id); });
    services_.synthesizer->stopSpeaking();
    {
        std::lock_guard lock(run->bufferMutex);
        std::vector<float>().swap(run->buffer);
    }
    if (notify && onStop)
        onStop(reason);
}

void LiveTranslator::reportFor(Run& run, const std::function<void()>& report) {
    {
        std::lock_guard lock(mutex_);
        if (!run.active)
            return;
        ++run.reportsInProgress;
    }
    const void* outer = reportingRun;
    reportingRun = &run;
    try {
        report();
    } catch (...) {
        // A receiver's failure is its own; the pipeline goes on.
    }
    reportingRun = outer;
    {
        std::lock_guard lock(mutex_);
        --run.reportsInProgress;
    }
    reportsDone_.notify_all();
}

void LiveTranslator::warn(Run& run, const std::string& text) {
    reportFor(run, [&] {
        if (onStatus)
            onStatus(text);
    });
}

// ---- start-up and shut-down of the captures (controlQueue_)

void LiveTranslator::startUp(const std::shared_ptr<Run>& run) {
    if (!run->active)
        return;
    std::exception_ptr failure;
    bool started = false;
    try {
        services_.engine->ensureServerUnlessAbandoned(run->modelID, run->serverStart.get_token());
        // A stop during the server start leaves nothing to start.
        if (run->active)
            started = startCapture(run);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        stopRun(run, kStartFailure + describe(failure) + kStartHint, true);
        return;
    }
    if (!started)
        return;
    reportFor(*run, [&] {
        if (onStatus)
            onStatus(services_.statusText(
                run->usingTap && run->muteOriginal ? "live.status.muted" : "live.status.active"));
    });
}

bool LiveTranslator::startCapture(const std::shared_ptr<Run>& run) {
    // The per-application capture first: it keeps our own speech out and can mute.
    if (services_.makeTapCapture) {
        std::unique_ptr<CaptureSource> tap;
        std::exception_ptr failure;
        try {
            tap = services_.makeTapCapture(run->muteOriginal);
            tap->onSamples = [this, run](std::vector<float> samples) {
                append(run, std::move(samples));
            };
            tap->start();
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) {
            {
                std::lock_guard lock(mutex_);
                if (run->active) {
                    tap_ = std::move(tap);
                    tapOwner_ = run->id;
                    run->usingTap = true;
                    return true;
                }
            }
            tap->stop();  // the run stopped while the capture came up
            return false;
        }
        if (tap)
            tap->stop();  // releases whatever the failed start set up
        if (run->muteOriginal)
            warn(*run, kMuteFailure + describe(failure) + kMuteFailureEnd);
        if (!run->active)
            return false;
    }

    {
        std::lock_guard lock(mutex_);
        monitorRun_ = run;
    }
    services_.monitorCapture->start();
    {
        std::lock_guard lock(mutex_);
        if (run->active) {
            monitorOwner_ = run->id;
            return true;
        }
    }
    services_.monitorCapture->stop();  // the run stopped while the capture came up
    return false;
}

void LiveTranslator::shutDownCaptures(uint64_t runID) {
    std::unique_ptr<CaptureSource> tap;
    bool monitor = false;
    {
        std::lock_guard lock(mutex_);
        if (tapOwner_ == runID) {
            tap = std::move(tap_);
            tapOwner_ = 0;
        }
        if (monitorOwner_ == runID) {
            monitor = true;
            monitorOwner_ = 0;
        }
    }
    if (tap)
        tap->stop();
    if (monitor)
        services_.monitorCapture->stop();
}

// ---- samples and chunks

void LiveTranslator::append(const std::shared_ptr<Run>& run, std::vector<float> samples) {
    if (!run->active)
        return;
    std::vector<std::vector<float>> chunks;
    {
        std::lock_guard lock(run->bufferMutex);
        if (!run->active)
            return;  // the stop has emptied the buffer; keep it empty
        run->buffer.insert(run->buffer.end(), samples.begin(), samples.end());
        std::size_t taken = 0;
        while (run->buffer.size() - taken >= chunkSamples) {
            const auto begin = run->buffer.begin() + static_cast<std::ptrdiff_t>(taken);
            chunks.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(chunkSamples));
            taken += chunkSamples;
        }
        run->buffer.erase(run->buffer.begin(),
                          run->buffer.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    for (auto& chunk : chunks) {
        if (run->pendingChunks >= maxPendingChunks)
            continue;  // too far behind: this chunk is dropped unheard
        ++run->pendingChunks;
        processQueue_.async([this, run, chunk = std::move(chunk)] {
            process(*run, chunk);
            --run->pendingChunks;
        });
    }
}

void LiveTranslator::process(Run& run, const std::vector<float>& chunk) {
    if (!run.active)
        return;
    // Silence costs one pass over the samples and nothing else.
    if (!isAudible(chunk))
        return;
    try {
        const auto wav = wavData(chunk, static_cast<uint32_t>(sampleRate));
        const auto transcript =
            stripArtifacts(services_.engine->transcribe(wav, run.modelID, run.sourceLanguage));
        if (graphemeCount(transcript, 2) < 2)
            return;
        const auto translation = services_.model->translate(transcript, translationTimeout);
        if (translation.empty())
            return;
        reportFor(run, [&] {
            if (onText)
                onText(translation);
            if (run.speak)
                services_.synthesizer->speak(translation);
        });
    } catch (...) {
        // Still reported after a stop, like any failure of a request that was under way.
        const auto text = kWarning + describe(std::current_exception());
        if (onStatus)
            onStatus(text);
    }
}

}  // namespace quenda::live
