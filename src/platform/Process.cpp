#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/DispatchQueue.h"

extern char** environ;

namespace quenda {

namespace {

// A file descriptor closed on scope exit.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset(int f = -1) {
        if (fd >= 0)
            ::close(fd);
        fd = f;
    }
    int release() { return std::exchange(fd, -1); }
};

void makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw ProcessLaunchError(std::strerror(errno));
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        auto name = text.substr(0, text.find('='));
        if (!extra.contains(std::string(name)))
            result.emplace_back(text);
    }
    for (const auto& [name, value] : extra)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const char* path, char* const* argv, char* const* envp, int stdinFd,
                            int stdoutFd, int stderrFd, int errorPipe, pid_t parent) {
    // Die with the parent, even when it is killed without a chance to clean up. SIGKILL: a
    // server that ignores SIGTERM would otherwise outlive a crashed Quenda with its memory.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);

    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);

    if (::dup2(stdinFd, 0) < 0 || ::dup2(stdoutFd, 1) < 0 || ::dup2(stderrFd, 2) < 0) {
        int err = errno;
        (void)!::write(errorPipe, &err, sizeof err);
        ::_exit(127);
    }
    // Nothing else of ours leaks into the child (sockets, other pipes).
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(path, argv, envp);
    int err = errno;
    (void)!::write(errorPipe, &err, sizeof err);
    ::_exit(127);
}

// The thread every child is forked from. The parent-death signal follows the thread that forked,
// not the process: a child forked by a worker thread would get it when that thread ends. This
// one is never destroyed, so it ends only with the process.
DispatchQueue& forkingThread() {
    static DispatchQueue* const thread = new DispatchQueue("process-fork");
    return *thread;
}

int duplicateAbove2(int fd) {
    // Keeps the descriptors we hand to dup2 clear of 0, 1 and 2, even when the parent was
    // started with some of those closed.
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return copy;
}

}  // namespace

// Output captured from the child's pipes by a reader thread; shared with that thread so that
// a dropped handle never leaves it writing to freed memory.
struct detail::ProcessCapture {
    std::mutex mutex;
    std::string out;
    std::string err;
};

namespace {

void readPipes(int outFd, int errFd, detail::ProcessCapture& capture) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* targets[2] = {&capture.out, &capture.err};
    int open = (outFd >= 0) + (errFd >= 0);
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(capture.mutex);
                targets[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

std::unique_ptr<Process> Process::launch(const std::filesystem::path& executable,
                                         const std::vector<std::string>& arguments,
                                         const ProcessOptions& options) {
    std::vector<std::string> argvTexts{executable.string()};
    argvTexts.insert(argvTexts.end(), arguments.begin(), arguments.end());
    auto argv = pointers(argvTexts);
    auto envTexts = mergedEnvironment(options.environment);
    auto envp = pointers(envTexts);
    const std::string path = executable.string();

    Fd devNullIn(duplicateAbove2(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
    Fd devNullOut(duplicateAbove2(::open("/dev/null", O_WRONLY | O_CLOEXEC)));
    if (devNullIn.fd < 0 || devNullOut.fd < 0)
        throw ProcessLaunchError(std::strerror(errno));

    using Output = ProcessOptions::Output;
    Fd outRead, outWrite, errRead, errWrite, statusRead, statusWrite;
    if (options.standardOutput == Output::capture)
        makePipe(outRead, outWrite);
    if (options.standardError == Output::capture)
        makePipe(errRead, errWrite);
    makePipe(statusRead, statusWrite);
    const int childOut = outWrite.fd >= 0 ? outWrite.fd : devNullOut.fd;
    const int childErr = errWrite.fd >= 0 ? errWrite.fd : devNullOut.fd;

    const pid_t parent = ::getpid();
    const pid_t pid = forkingThread().sync([&] {
        const pid_t forked = ::fork();
        if (forked == 0) {
            execChild(path.c_str(), argv.data(), envp.data(), devNullIn.fd, childOut, childErr,
                      statusWrite.fd, parent);
        }
        return forked < 0 ? -errno : forked;
    });
    if (pid < 0)
        throw ProcessLaunchError(std::strerror(-pid));

    // The status pipe closes on a successful exec; otherwise it carries the child's errno.
    statusWrite.reset();
    outWrite.reset();
    errWrite.reset();
    int childErrno = 0;
    ssize_t n;
    do {
        n = ::read(statusRead.fd, &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    if (n == sizeof childErrno) {
        ::waitpid(pid, nullptr, 0);
        throw ProcessLaunchError(std::strerror(childErrno));
    }

    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    auto capture = std::make_shared<detail::ProcessCapture>();
    std::thread reader;
    if (outRead.fd >= 0 || errRead.fd >= 0) {
        int outFd = outRead.release(), errFd = errRead.release();
        reader = std::thread([capture, outFd, errFd] { readPipes(outFd, errFd, *capture); });
    }
    return std::unique_ptr<Process>(new Process(pid, pidfd, capture, std::move(reader)));
}

Process::Process(pid_t pid, int pidfd, std::shared_ptr<detail::ProcessCapture> capture,
                 std::thread reader)
    : pid_(pid), pidfd_(pidfd), capture_(std::move(capture)), reader_(std::move(reader)) {}

Process::~Process() {
    bool exited;
    {
        std::lock_guard lock(mutex_);
        exited = reapLocked(false);
    }
    if (exited) {
        finishCapture();
    } else {
        // Still running: whoever dropped it did not want to wait. Reap it when it ends.
        if (reader_.joinable())
            reader_.detach();
        std::thread([pid = pid_] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool Process::reapLocked(bool block) {
    if (status_)
        return true;
    int raw = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &raw, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        if (WIFSIGNALED(raw)) {
            endedBySignal_ = true;
            status_ = 128 + WTERMSIG(raw);
        } else {
            status_ = WEXITSTATUS(raw);
        }
        return true;
    }
    if (r < 0) {
        // Reaped elsewhere (should not happen); treat it as gone rather than running forever.
        status_ = 255;
        return true;
    }
    return false;
}

void Process::finishCapture() {
    std::lock_guard lock(mutex_);
    if (reader_.joinable())
        reader_.join();
}

bool Process::isRunning() {
    std::lock_guard lock(mutex_);
    return !reapLocked(false);
}

void Process::terminate() {
    std::lock_guard lock(mutex_);
    if (!reapLocked(false))
        ::kill(pid_, SIGTERM);
}

void Process::kill() {
    std::lock_guard lock(mutex_);
    if (!reapLocked(false))
        ::kill(pid_, SIGKILL);
}

bool Process::stop(std::chrono::milliseconds grace, std::chrono::milliseconds killWait) {
    terminate();
    if (waitForExit(grace))
        return true;
    kill();
    return waitForExit(killWait).has_value();
}

std::optional<int> Process::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (reapLocked(false))
                break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        if (pidfd_ >= 0) {
            pollfd pfd{pidfd_, POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
        }
    }
    finishCapture();
    std::lock_guard lock(mutex_);
    return status_;
}

int Process::waitForExit() {
    for (;;) {
        if (auto status = waitForExit(std::chrono::hours(24)))
            return *status;
    }
}

std::optional<int> Process::exitStatus() {
    std::lock_guard lock(mutex_);
    reapLocked(false);
    return status_;
}

bool Process::endedBySignal() {
    std::lock_guard lock(mutex_);
    return endedBySignal_;
}

std::string Process::standardOutputText() {
    std::lock_guard lock(capture_->mutex);
    return capture_->out;
}

std::string Process::standardErrorText() {
    std::lock_guard lock(capture_->mutex);
    return capture_->err;
}

}  // namespace quenda
