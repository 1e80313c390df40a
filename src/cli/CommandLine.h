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

// A command: takes the whole argument list (command word first) and returns the text to print,
// or ends through fail().
using Command = std::string (*)(const std::vector<std::string>& args);

// Runs one command: prints its result (with a line feed) on standard output, or one "ERRO: " line
// on standard error. Returns the exit status: 0 on success, 1 on failure.
int runCommand(Command command, const std::vector<std::string>& args);

// Runs the command-line mode with the arguments after "--cli" (the command word first).
// Prints and returns as runCommand. Everything the command started (a speech server) is
// stopped before it returns. "doctor" is not among these commands: it runs from the desktop
// module (see DesktopModule.cpp).
int runCLI(const std::vector<std::string>& args);

// Makes Ctrl+C, SIGTERM and SIGHUP end the command-line mode with exit status 1; the speech
// server it started goes down with it.
void installCommandLineInterruptHandlers();

// Writes all of `bytes` to a file descriptor in as few writes as the system allows.
void writeAll(int fd, const std::string& bytes);

}  // namespace quenda
