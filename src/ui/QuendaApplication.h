#pragma once

#include <QObject>
#include <memory>

#include "app/AppState.h"

class QApplication;

namespace quenda {
class MainQueueQt;
class PasteboardQt;
}  // namespace quenda

namespace quenda::ui {

class MainWindow;
class OpenFileDialogQt;

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

    QuendaApplication(QApplication& application, Options options);
    ~QuendaApplication() override;

    // Stops live translation (giving other applications their sound back), the speech server
    // and the hotkey, releases the state, and ends the event loop. Safe to call more than once.
    void shutdown();

  private:
    void warmUp();

    QApplication& application_;
    std::unique_ptr<MainQueueQt> mainQueue_;
    std::shared_ptr<PasteboardQt> pasteboard_;
    std::shared_ptr<OpenFileDialogQt> dialog_;
    std::shared_ptr<TranscriptionEngine> engine_;
    std::shared_ptr<AppState> state_;
    std::unique_ptr<MainWindow> window_;
    bool shutDown_ = false;
};

// Runs the windowed application until it quits; returns the process's exit status.
int runWindowedApplication(int argc, char** argv);

}  // namespace quenda::ui
