#include "ui/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace quenda::ui {

namespace {

// The write end of the pipe of the object whose handlers are installed; -1 when none is.
std::atomic<int> writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// Only async-signal-safe work: one write of the signal number. A full pipe drops the byte;
// the reader has plenty waiting already.
void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (writeEnd.load() >= 0)
        throw std::logic_error("TerminationSignals: another object already handles the signals");
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("TerminationSignals: pipe2: ") + std::strerror(errno));
    writeEnd.store(pipe_[1]);

    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // interrupted system calls elsewhere carry on
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &previous_[i]);
}

TerminationSignals::~TerminationSignals() {
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &previous_[i], nullptr);
    writeEnd.store(-1);
    delete notifier_;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::readPipe() {
    std::string received;
    char bytes[16];
    ssize_t count;
    while ((count = ::read(pipe_[0], bytes, sizeof bytes)) > 0)
        received.append(bytes, static_cast<size_t>(count));
    // A receiver may delete this object (and close the pipe) while handling one of them.
    const QPointer<TerminationSignals> alive(this);
    for (const char byte : received) {
        emit terminationRequested(static_cast<unsigned char>(byte));
        if (!alive)
            return;
    }
}

}  // namespace quenda::ui
