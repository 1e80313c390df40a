#include "ui/QuendaApplication.h"

#include <QApplication>
#include <QIcon>
#include <thread>

#include "audio/ProcessTapCapturePulse.h"
#include "input/HotkeyManagerCommands.h"
#include "input/HotkeyManagerPortal.h"
#include "input/KeystrokeSynthesizerRemoteDesktop.h"
#include "input/KeystrokeSynthesizerWtype.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "input/PasteboardWlCopy.h"
#include "input/SessionBackends.h"
#include "l10n/L10n.h"
#include "live/LiveServicesDefault.h"
#include "llm/OllamaClient.h"
#include "platform/TemporaryFile.h"
#include "platform_qt/DefaultsQt.h"
#include "platform_qt/MainQueueQt.h"
#include "platform_qt/PasteboardQt.h"
#include "ui/ApplicationId.h"
#include "ui/MainWindow.h"
#include "ui/OpenFileDialogQt.h"
#include "ui/SingleInstance.h"
#include "ui/StateChanges.h"
#include "ui/TerminationSignals.h"
#include "ui/TrayIcon.h"

namespace quenda::ui {

namespace {

// The session decides how push-to-talk arrives and how the text is pasted (see
// chooseInputBackends); the application state only sees the interfaces.
std::unique_ptr<HotkeyManager::Backend> makeTrigger(const InputBackends& chosen) {
    switch (chosen.trigger) {
        case TriggerBackend::portalShortcuts:
            return std::make_unique<HotkeyManagerPortal>(
                QString::fromLatin1(kApplicationId),
                QString::fromStdString(L10n::t("backend.portal.description")));
        case TriggerBackend::commands:
            return std::make_unique<HotkeyManagerCommands>();
        case TriggerBackend::x11Grab:
            break;
    }
    return HotkeyManager::Backend::createForPlatform();
}

std::unique_ptr<KeystrokeSynthesizer> makeKeystrokes(const InputBackends& chosen) {
    switch (chosen.paste) {
        case PasteBackend::remoteDesktop:
            return std::make_unique<KeystrokeSynthesizerRemoteDesktop>(standardDefaults());
        case PasteBackend::wtype:
            return std::make_unique<KeystrokeSynthesizerWtype>();
        case PasteBackend::xtest:
            break;
    }
    return std::make_unique<KeystrokeSynthesizerXTest>();
}

std::shared_ptr<Pasteboard> makePasteboard(const InputBackends& chosen) {
    if (chosen.clipboardThroughWlCopy)
        return std::make_shared<PasteboardWlCopy>();
    return std::make_shared<PasteboardQt>();
}

}  // namespace

QuendaApplication::QuendaApplication(QApplication& application, SingleInstance& instance,
                                     Options options)
    : application_(application),
      // Held until the window exists: nothing reports to a window that is not there yet.
      mainQueue_(std::make_unique<MainQueueQt>(MainQueueQt::Start::held)),
      backends_(chooseInputBackends(SessionEnvironment::fromProcess())),
      pasteboard_(makePasteboard(backends_)),
      dialog_(std::make_shared<OpenFileDialogQt>()),
      engine_(std::make_shared<TranscriptionEngine>()),
      tray_(new TrayIcon(this)),
      signals_(new TerminationSignals(this)) {
    AppServices services;
    services.mainQueue = mainQueue_.get();
    services.engine = engine_;
    services.recorder = audio::Recorder::create();
    services.hotkeyBackend = makeTrigger(backends_);
    services.pasteboard = pasteboard_;
    services.keystrokes = makeKeystrokes(backends_);
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
    // With a tray, closing the window only hides it; without one, it is the way out.
    connect(window_.get(), &MainWindow::closeRequested, this, [this] {
        if (!tray_->isVisible())
            return shutdown();
        window_->hide();
        tray_->setWindowShown(false);
    });
    connect(&application_, &QCoreApplication::aboutToQuit, this, &QuendaApplication::shutdown);
    connect(signals_, &TerminationSignals::terminationRequested, this,
            &QuendaApplication::shutdown);
    connect(&instance, &SingleInstance::messageReceived, this, &QuendaApplication::perform);
    connect(tray_, &TrayIcon::quitRequested, this, &QuendaApplication::shutdown);
    connect(tray_, &TrayIcon::liveToggleRequested, this,
            [this] { state_->toggleLiveTranslation(); });
    connect(tray_, &TrayIcon::showHideRequested, this, [this] {
        if (window_->isVisible()) {
            window_->hide();
            tray_->setWindowShown(false);
        } else {
            showWindow();
        }
    });
    followState();
    // Hidden at start only into a tray: with none, the window would be out of reach.
    if (!options.startHidden || !tray_->isVisible())
        showWindow();
    mainQueue_->release();
    // Sound a crashed run left on its capture sink goes back to its own output now, not only
    // at the next live translation.
    std::thread([] { audio::ProcessTapCapturePulse::giveBackLeftovers(); }).detach();
    warmUp();
}

void QuendaApplication::followState() {
    auto update = [this] {
        if (!state_)
            return;
        tray_->setMode(state_->isRecording() ? TrayIcon::Mode::recording
                       : state_->isBusy()    ? TrayIcon::Mode::transcribing
                                             : TrayIcon::Mode::idle);
        tray_->setLiveActive(state_->liveActive());
    };
    connect(&window_->changes(), &StateChanges::changed, this, update);
    connect(&window_->changes(), &StateChanges::languageChanged, tray_, &TrayIcon::retranslate);
    update();
}

void QuendaApplication::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
    tray_->setWindowShown(true);
}

void QuendaApplication::perform(const QString& command) {
    if (shutDown_)
        return;
    if (command == QLatin1String("show"))
        showWindow();
    else if (command == QLatin1String("toggle"))
        state_->isRecording() ? state_->endPushToTalk() : state_->beginPushToTalk();
    else if (command == QLatin1String("ptt-press"))
        state_->beginPushToTalk();
    else if (command == QLatin1String("ptt-release"))
        state_->endPushToTalk();
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

std::pair<QuendaApplication::Options, QString> QuendaApplication::parseArguments(int argc,
                                                                                 char** argv) {
    Options options;
    QString command = QStringLiteral("show");
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--start-hidden")
            options.startHidden = true;
        else if (argument == "--toggle" || argument == "--show" || argument == "--ptt-press" ||
                 argument == "--ptt-release")
            command = QString::fromUtf8(argument.substr(2).data(),
                                        static_cast<qsizetype>(argument.size() - 2));
    }
    return {options, command};
}

int runWindowedApplication(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenda"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    // The installed icon from the desktop's icon theme; the built-in copy where there is none.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(kApplicationId),
                         QIcon(QStringLiteral(":/icons/app.quenda.Quenda.png"))));
    installStandardDefaults(std::make_shared<DefaultsQt>());

    const auto [options, command] = QuendaApplication::parseArguments(argc, argv);
    SingleInstance instance;
    if (!instance.isFirstInstance()) {
        // Quenda already runs: it does what was asked (by default, shows its window).
        return instance.sendMessage(command) ? 0 : 1;
    }
    QuendaApplication quenda(application, instance, options);
    if (command != QLatin1String("show"))
        QMetaObject::invokeMethod(
            &quenda, [&quenda, command] { quenda.perform(command); }, Qt::QueuedConnection);
    QApplication::exec();
    // What must be put in order before the process ends is: other applications' sound, the
    // hotkey, the speech server (shutdown() again in case the loop ended some other way). The
    // windows are not torn down first: that buys nothing before _Exit, and on Wayland it races
    // the platform plugin's event thread (an abort in wl_proxy_unref at exit was seen on sway).
    quenda.shutdown();
    // Background jobs may still be waiting on a server that is gone: do not wait for them.
    // Their temporary files go now, since their destructors will not run.
    removeTemporaryFilesNow();
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace quenda::ui
