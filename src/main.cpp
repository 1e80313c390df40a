// Quenda's entry point: "--cli" as the first argument runs the command-line mode; anything
// else starts the windowed application.

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "ui/QuendaApplication.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);

    if (args.size() >= 2 && args[1] == "--cli") {
        quenda::installCommandLineInterruptHandlers();
        return quenda::runCLI({args.begin() + 2, args.end()});
    }

    return quenda::ui::runWindowedApplication(argc, argv);
}
