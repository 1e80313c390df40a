#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quenda {

namespace detail {
struct ProcessCapture;
}

// Thrown when the system refuses to start a program; what() is the system's description
// (for example "No such file or directory").
class ProcessLaunchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ProcessOptions {
    enum class Output { discard, capture };
    Output standardOutput = Output::discard;
    Output standardError = Output::discard;
    // Variables added to (or replacing those of) this process's environment.
    std::map<std::string, std::string> environment;
};

// A child process started from an argument list, never through a shell. Standard input is the
// null device; standard output and error go to the null device or are captured in full while
// the child runs (a chatty child never blocks on a full pipe).
//
// The child is tied to this process: when this process dies for any reason (a crash, SIGKILL)
// the child receives SIGTERM, so helper servers never outlive the application. (The kernel ties
// that signal to the thread that forked, so every child is forked by one thread that lives as
// long as the process: a child never dies because the thread that asked for it ended.) A child
// that exits is reaped as soon as anyone asks about it, and one whose handle is dropped while
// it still runs is reaped in the background, so no zombie lingers.
//
// All members are safe to call from several threads.
class Process {
  public:
    // Starts `executable` with `arguments` (not including the program name). Throws
    // ProcessLaunchError when the program cannot be started (missing, not executable, ...).
    static std::unique_ptr<Process> launch(const std::filesystem::path& executable,
                                           const std::vector<std::string>& arguments,
                                           const ProcessOptions& options = {});

    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }

    // False once the child has exited, whether or not anyone waited for it (it is reaped here).
    bool isRunning();

    // Asks a running child to stop (SIGTERM). No effect once it has exited.
    void terminate();

    // Ends a running child at once (SIGKILL). No effect once it has exited.
    void kill();

    // Asks the child to stop (SIGTERM), ends it (SIGKILL) when it still runs after `grace`, and
    // waits until it has exited and been reaped. True once it is gone; false only when even
    // SIGKILL did not end it within `killWait` (a child stuck in the kernel).
    bool stop(std::chrono::milliseconds grace,
              std::chrono::milliseconds killWait = std::chrono::seconds(10));

    // Blocks until the child exits; returns its exit status (128 + signal number when a
    // signal ended it).
    int waitForExit();

    // Waits at most `timeout`; returns the exit status, or nothing if it is still running.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

    // The exit status, once the child has exited and been reaped.
    std::optional<int> exitStatus();

    // True when a signal ended the child (valid once exitStatus() has a value).
    bool endedBySignal();

    // Everything the child wrote, when captured. Complete once the child has exited
    // (waitForExit returned).
    std::string standardOutputText();
    std::string standardErrorText();

  private:
    Process(pid_t pid, int pidfd, std::shared_ptr<detail::ProcessCapture> capture,
            std::thread reader);
    bool reapLocked(bool block);
    void finishCapture();

    const pid_t pid_;
    const int pidfd_;
    std::mutex mutex_;
    std::optional<int> status_;
    bool endedBySignal_ = false;
    std::shared_ptr<detail::ProcessCapture> capture_;
    std::thread reader_;
};

}  // namespace quenda
