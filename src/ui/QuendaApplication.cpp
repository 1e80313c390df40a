#include "ui/QuendaApplication.h"

#include <QApplication>
#include <thread>

#include "input/KeystrokeSynthesizerXTest.h"
#include "live/LiveServicesDefault.h"
#include "llm/OllamaClient.h"
#include "platform/TemporaryFile.h"
#include "platform_qt/DefaultsQt.h"
#include "platform_qt/MainQueueQt.h"
#include "platform_qt/PasteboardQt.h"
#include "ui/ApplicationId.h"
#include "ui/MainWindow.h"
#include "ui/OpenFileDialogQt.h"

namespace quenda::ui {

QuendaApplication::QuendaApplication(QApplication& application, Options options)
    : application_(application),
      // Held until the window exists: nothing reports to a window that is not there yet.
      mainQueue_(std::make_unique<MainQueueQt>(MainQueueQt::Start::held)),
      pasteboard_(std::make_shared<PasteboardQt>()),
      dialog_(std::make_shared<OpenFileDialogQt>()),
      engine_(std::make_shared<TranscriptionEngine>()) {
    AppServices services;
    services.mainQueue = mainQueue_.get();
    services.engine = engine_;
    services.recorder = audio::Recorder::create();
    services.hotkeyBackend = HotkeyManager::Backend::createForPlatform();
    services.pasteboard = pasteboard_;
    services.keystrokes = std::make_unique<KeystrokeSynthesizerXTest>();
    services.downloader = std::make_unique<ModelDownloader>(*mainQueue_);
    services.makeLiveTranslator = [](std::shared_ptr<TranscriptionEngine> engine) {
        return std::make_unique<live::LiveTranslator>(live::defaultLiveServices(std::move(engine)));
    };
    services.generate = OllamaClient::generate;
    services.runJob = detachedThreadJobRunner();
    services.openFileDialog = dialog_;
    state_ = AppState::create(std::move(services));

    window_ = std::make_unique<MainWindow>(*state_, *pasteboard_);
    dialog_->setParent(window_.get());
    connect(window_.get(), &MainWindow::quitRequested, this, &QuendaApplication::shutdown);
    connect(window_.get(), &MainWindow::closeRequested, this, &QuendaApplication::shutdown);
    connect(&application_, &QCoreApplication::aboutToQuit, this, &QuendaApplication::shutdown);
    if (!options.startHidden) {
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
    mainQueue_->release();
    warmUp();
}

QuendaApplication::~QuendaApplication() {
    shutdown();
}

void QuendaApplication::warmUp() {
    // The first dictation should not wait for the model to load. A failure here is left for
    // the first transcription to report.
    std::thread([engine = engine_, modelID = state_->modelID()] {
        try {
            engine->ensureServer(modelID);
        } catch (...) {
        }
    }).detach();
}

void QuendaApplication::shutdown() {
    if (std::exchange(shutDown_, true))
        return;
    window_->detachFromState();
    // The state goes on the main thread, and with it the translator (which gives the moved
    // streams back), the hotkey grab and the downloader; then the server, abandoning a load
    // in progress.
    state_.reset();
    engine_->stopServer();
    QCoreApplication::exit(0);
}

int runWindowedApplication(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenda"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    installStandardDefaults(std::make_shared<DefaultsQt>());

    QuendaApplication::Options options;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--start-hidden")
            options.startHidden = true;
    {
        QuendaApplication quenda(application, options);
        QApplication::exec();
    }
    // Background jobs may still be waiting on a server that is gone: do not wait for them.
    // Their temporary files go now, since their destructors will not run.
    removeTemporaryFilesNow();
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace quenda::ui
