#include "input/WaylandTools.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ranges>

#include "platform/Process.h"

namespace quenda {

std::optional<std::filesystem::path> findProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    for (const auto folder : std::views::split(std::string_view(path ? path : ""), ':')) {
        if (folder.empty())
            continue;
        const auto candidate =
            std::filesystem::path(std::string_view(folder.begin(), folder.end())) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::optional<ToolRun> runTool(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeout, ToolOutput output) {
    const bool captureOutput = output == ToolOutput::standardOutput;
    ProcessOptions options;
    if (output != ToolOutput::none)
        options.standardError = ProcessOptions::Output::capture;
    if (captureOutput)
        options.standardOutput = ProcessOptions::Output::capture;
    std::unique_ptr<Process> process;
    try {
        process = Process::launch(program, arguments, options);
    } catch (const ProcessLaunchError& error) {
        std::fprintf(stderr, "quenda: %s: %s\n", program.c_str(), error.what());
        return std::nullopt;
    }
    const auto status = process->waitForExit(timeout);
    if (!status) {
        process->stop(std::chrono::milliseconds(200));
        std::fprintf(stderr, "quenda: %s did not finish in time\n", program.c_str());
        return std::nullopt;
    }
    if (*status != 0 && output != ToolOutput::none)
        std::fprintf(stderr, "quenda: %s: %s", program.c_str(),
                     process->standardErrorText().c_str());
    return ToolRun{*status, captureOutput ? process->standardOutputText() : std::string()};
}

}  // namespace quenda
