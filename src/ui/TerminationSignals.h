#pragma once

#include <signal.h>

#include <QObject>
#include <array>

class QSocketNotifier;

namespace quenda::ui {

// SIGTERM, SIGINT and SIGHUP become one Qt signal on the main thread (self-pipe + QSocketNotifier;
// the handler itself only writes a byte), so they take the same path as Quit.
//
// One object at a time: the handlers write into the pipe of the object that installed them.
// Create it on the thread that runs the event loop.
class TerminationSignals final : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;  // puts the previous handlers back

  signals:
    void terminationRequested(int signalNumber);

  private:
    void readPipe();

    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};
    std::array<struct sigaction, kSignals.size()> previous_{};
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quenda::ui
