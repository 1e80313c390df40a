#include "download/ModelDownloader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>

#include "download/HttpFileFetch.h"
#include "engine/TranscriptionEngine.h"

namespace quenda {

// One accepted download, shared by the main thread and the transport queue.
struct ModelDownloader::Transfer {
    // Held while the finished file is renamed into place, so that a cancel either comes
    // before the rename (and prevents it) or after the success has been posted.
    std::mutex commitMutex;
    std::atomic<bool> cancelled{false};
    // The newest fraction, and whether a main-queue update that will pick it up is pending:
    // the main queue gets at most one progress update at a time, never a backlog.
    std::atomic<double> latestFraction{0.0};
    std::atomic<bool> progressPosted{false};

    void requestCancel() {
        std::lock_guard lock(commitMutex);
        cancelled = true;
    }
};

namespace {

// The kind of temporary file a download writes beside the model ("<file>.download-<UUID>").
constexpr std::string_view kTempKind = "download";

}  // namespace

ModelDownloader::ModelDownloader(MainQueue& mainQueue, ModelDownloaderSettings settings)
    : mainQueue_(mainQueue), settings_(std::move(settings)) {}

ModelDownloader::~ModelDownloader() {
    if (current_)
        current_->requestCancel();
}

void ModelDownloader::download(std::string_view modelID, std::function<void(bool)> completion) {
    auto refuse = [&] {
        if (completion)
            completion(false);
    };
    if (isDownloading_)
        return refuse();
    const auto model = TranscriptionEngine::modelInfo(modelID);
    if (!model)
        return refuse();
    const std::string address = settings_.addressOf ? settings_.addressOf(*model) : model->url;
    if (!HttpFileFetch::isValidAddress(address))
        return refuse();

    completion_ = std::move(completion);
    const auto destination = TranscriptionEngine::modelsDirectory() / model->file;
    isDownloading_ = true;
    progress_ = 0.0;
    error_.reset();
    auto started = std::make_shared<Transfer>();
    current_ = started;
    changed();
    transport_.async(
        [this, started, address, destination] { transfer(started, address, destination); });
}

void ModelDownloader::cancel() {
    if (current_)
        current_->requestCancel();
    postForTransfer(current_, [this] {
        isDownloading_ = false;
        changed();
        if (auto completion = std::exchange(completion_, nullptr))
            completion(false);
    });
}

// Runs on the transport queue.
void ModelDownloader::transfer(const std::shared_ptr<Transfer>& transfer,
                               const std::string& address,
                               const std::filesystem::path& destination) {
    std::optional<DownloadFailure> failure;
    {
        // Downloads cut off by a crash or power loss leave files as big as the model.
        files::removeStaleTempFiles(destination, kTempKind);
        files::SiblingTempFile file(destination, kTempKind);
        if (file.error()) {
            failure = DownloadFailure::writing(destination.parent_path(), file.error());
        } else {
            HttpFileFetch::Hooks hooks;
            hooks.onProgress = [&](int64_t received, int64_t expected) {
                if (expected >= 1)
                    reportProgress(transfer,
                                   static_cast<double>(received) / static_cast<double>(expected));
            };
            hooks.isCancelled = [&] { return transfer->cancelled.load(); };
            failure = HttpFileFetch::fetchToFile(address, file, hooks, settings_.stallLimit);
            if (failure && failure->kind == DownloadFailure::Kind::cannotWrite)
                failure->path = destination;
            if (!failure)
                failure = install(transfer, file, destination);
        }
    }  // a temporary file that was not installed is removed here, before anyone hears of it
    if (failure)
        postForTransfer(transfer, [this, text = failure->description()] { fail(text); });
}

// Runs on the transport queue: puts the complete file in place, unless cancelled meanwhile.
std::optional<DownloadFailure> ModelDownloader::install(const std::shared_ptr<Transfer>& transfer,
                                                        files::SiblingTempFile& file,
                                                        const std::filesystem::path& destination) {
    ::fchmod(file.fd(), 0644);
    // Flushed before taking the lock, so that a cancel never waits for the disk.
    if (::fsync(file.fd()) != 0)
        return DownloadFailure::writing(destination, {errno, std::generic_category()});
    std::lock_guard lock(transfer->commitMutex);
    if (transfer->cancelled)
        return DownloadFailure::of(DownloadFailure::Kind::cancelled);
    if (auto error = file.commit(destination))
        return DownloadFailure::writing(destination, error);
    postForTransfer(transfer, [this] { succeed(); });
    return std::nullopt;
}

void ModelDownloader::reportProgress(const std::shared_ptr<Transfer>& transfer, double fraction) {
    transfer->latestFraction = fraction;
    if (transfer->progressPosted.exchange(true))
        return;
    postForTransfer(transfer, [this, transfer] {
        // Cleared before reading, so a fraction stored meanwhile gets an update of its own.
        transfer->progressPosted = false;
        progress_ = transfer->latestFraction;
        changed();
    });
}

void ModelDownloader::postForTransfer(const std::shared_ptr<Transfer>& transfer,
                                      std::function<void()> work) {
    mainQueue_.post([this, alive = std::weak_ptr<int>(alive_), transfer, work = std::move(work)] {
        if (alive.expired() || current_ != transfer)
            return;
        work();
    });
}

void ModelDownloader::succeed() {
    isDownloading_ = false;
    progress_ = 1.0;
    changed();
    if (auto completion = std::exchange(completion_, nullptr))
        completion(true);
}

void ModelDownloader::fail(const std::string& description) {
    isDownloading_ = false;
    error_ = description;
    changed();
    if (auto completion = std::exchange(completion_, nullptr))
        completion(false);
}

void ModelDownloader::changed() {
    if (onChange)
        onChange();
}

}  // namespace quenda
