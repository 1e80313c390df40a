#include "cli/CommandLine.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "cli/Commands.h"
#include "platform/TemporaryFile.h"

namespace quenda {

namespace {

constexpr const char* kUsage =
    "uso: --cli transcribe <arquivo> [--model <id>] [--clean] | --cli summarize | --cli last | "
    "--cli doctor [--model <id>]";

std::string dispatch(const std::vector<std::string>& args) {
    if (args.empty())
        fail(kUsage);
    const std::string& command = args[0];
    if (command == "transcribe")
        return runTranscribeCommand(args);
    if (command == "summarize")
        return runSummarizeCommand(args);
    if (command == "last")
        return runLastCommand(args);
    fail("comando desconhecido: " + command);
}

void onInterrupt(int) {
    // Destructors do not run on this way out: remove the converted audio files by hand.
    removeTemporaryFilesNow();
    static const char message[] = "ERRO: interrompido\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
    // Our children are tied to this process: they are killed as it ends.
    ::_exit(1);
}

}  // namespace

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

int runCLI(const std::vector<std::string>& args) {
    return runCommand(dispatch, args);
}

int runCommand(Command command, const std::vector<std::string>& args) {
    try {
        writeAll(STDOUT_FILENO, command(args) + "\n");
        return 0;
    } catch (const CommandLineFailure& failure) {
        writeAll(STDERR_FILENO, "ERRO: " + failure.message + "\n");
        return 1;
    }
}

void installCommandLineInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace quenda
