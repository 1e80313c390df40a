#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/DownloadFailure.h"
#include "engine/ModelInfo.h"
#include "platform/DispatchQueue.h"
#include "platform/Files.h"
#include "platform/MainQueue.h"

namespace quenda {

struct ModelDownloaderSettings {
    // Where a model's file is fetched from. Unset: the catalog's address; tests point it at a
    // local server.
    std::function<std::string(const ModelInfo&)> addressOf;
    // A transfer that receives nothing for this long fails.
    std::chrono::seconds stallLimit{60};
};

// Fetches a catalog model's file into the models directory, with progress and cancellation.
//
// `download` and `cancel` are called on the main thread. The transfer runs on the serial queue
// "model-download" and streams into a temporary file beside the destination, which replaces
// the destination (atomically) only once the complete body has arrived: a failed, cancelled or
// interrupted download never leaves a partial file behind and never harms a model file already
// in place. Every change of `progress`, `isDownloading` and `error`, every `onChange` and every
// call of the pending completion happens on the main queue; the completion of an accepted
// download is called exactly once.
class ModelDownloader {
  public:
    // `mainQueue` must outlive the downloader.
    explicit ModelDownloader(MainQueue& mainQueue, ModelDownloaderSettings settings = {});
    // Call on the main thread. Stops a running transfer and waits for it; a pending completion
    // is not called.
    ~ModelDownloader();
    ModelDownloader(const ModelDownloader&) = delete;
    ModelDownloader& operator=(const ModelDownloader&) = delete;

    // Starts fetching the model `modelID`. `completion` gets true once the file is in place and
    // false otherwise. It is called at once, on this thread, and nothing changes when a
    // download is already running, the model is not in the catalog or its address is invalid.
    void download(std::string_view modelID, std::function<void(bool)> completion);

    // Stops the running download, if any: its completion gets false, and `error` later takes
    // the cancellation's description.
    void cancel();

    // Published state; read it on the main thread.
    double progress() const { return progress_; }
    bool isDownloading() const { return isDownloading_; }
    const std::optional<std::string>& error() const { return error_; }

    // Called on the main thread after the published state changed. Set once by the owner.
    std::function<void()> onChange;

  private:
    struct Transfer;

    void transfer(const std::shared_ptr<Transfer>& transfer, const std::string& address,
                  const std::filesystem::path& destination);
    std::optional<DownloadFailure> install(const std::shared_ptr<Transfer>& transfer,
                                           files::SiblingTempFile& file,
                                           const std::filesystem::path& destination);
    void reportProgress(const std::shared_ptr<Transfer>& transfer, double fraction);
    // Runs `work` on the main queue if this downloader still exists and `transfer` is still
    // its current one (a late report of an earlier transfer changes nothing).
    void postForTransfer(const std::shared_ptr<Transfer>& transfer, std::function<void()> work);
    void succeed();
    void fail(const std::string& description);
    void changed();

    MainQueue& mainQueue_;
    const ModelDownloaderSettings settings_;

    // Main-thread state.
    double progress_ = 0.0;
    bool isDownloading_ = false;
    std::optional<std::string> error_;
    std::function<void(bool)> completion_;
    // The running (or last) transfer; cancel() stops it.
    std::shared_ptr<Transfer> current_;
    // Expires with the downloader, so work still queued for the main thread does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    // Declared last: destroyed first, so a running transfer ends before anything it uses.
    DispatchQueue transport_{"model-download"};
};

}  // namespace quenda
