#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <utility>

#include "app/AppState.h"
#include "input/SessionBackends.h"

class QApplication;

namespace quenda {
class MainQueueQt;
class PasteboardQt;
}  // namespace quenda

namespace quenda::ui {

class MainWindow;
class OpenFileDialogQt;
class SingleInstance;
class TerminationSignals;
class TrayIcon;

// The windowed application: builds the state with the desktop's real components, opens the
// window, warms the speech server up in the background, and owns the one way out (the Quit
// menu and button, closing the window, SIGTERM/SIGINT/SIGHUP), which ends everything in order
// on the main thread.
class QuendaApplication final : public QObject {
    Q_OBJECT
  public:
    struct Options {
        bool startHidden = false;
    };
    // What the command line asks of the running instance ("show", "toggle", "ptt-press",
    // "ptt-release"), and whether to start hidden in the tray.
    static std::pair<Options, QString> parseArguments(int argc, char** argv);

    // `instance` is this process's claim of the session (already the first instance).
    QuendaApplication(QApplication& application, SingleInstance& instance, Options options);
    ~QuendaApplication() override;

    // Stops live translation (giving other applications their sound back), the speech server
    // and the hotkey, releases the state, and ends the event loop. Safe to call more than once.
    void shutdown();

    // Carries out a command handed over by another start of Quenda.
    void perform(const QString& command);

  private:
    void warmUp();
    void showWindow();
    void followState();

    QApplication& application_;
    std::unique_ptr<MainQueueQt> mainQueue_;
    const InputBackends backends_;
    std::shared_ptr<Pasteboard> pasteboard_;
    std::shared_ptr<OpenFileDialogQt> dialog_;
    std::shared_ptr<TranscriptionEngine> engine_;
    std::shared_ptr<AppState> state_;
    std::unique_ptr<MainWindow> window_;
    TrayIcon* tray_;
    TerminationSignals* signals_;
    bool shutDown_ = false;
};

// Runs the windowed application until it quits; returns the process's exit status.
int runWindowedApplication(int argc, char** argv);

}  // namespace quenda::ui
