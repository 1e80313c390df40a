#pragma once

#include <string>
#include <vector>

namespace quenda {

// Thrown by fail(): the command line's one failure path.
struct CommandLineFailure {
    std::string message;
};

// Ends the current command with "ERRO: " + message on standard error and exit status 1.
[[noreturn]] inline void fail(std::string message) {
    throw CommandLineFailure{std::move(message)};
}

// Runs the command-line mode with the arguments after "--cli" (the command word first).
// Prints the result (with a line feed) on standard output, or one "ERRO: " line on standard
// error. Returns the exit status: 0 on success, 1 on failure. Everything the command started
// (a speech server) is stopped before it returns.
int runCLI(const std::vector<std::string>& args);

// Makes Ctrl+C, SIGTERM and SIGHUP end the command-line mode with exit status 1; the speech
// server it started goes down with it.
void installCommandLineInterruptHandlers();

// Writes all of `bytes` to a file descriptor in as few writes as the system allows.
void writeAll(int fd, const std::string& bytes);

}  // namespace quenda
