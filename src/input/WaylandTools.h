#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenda {

// The path of the program `name` in one of the folders of $PATH; nothing when none has it.
std::optional<std::filesystem::path> findProgram(std::string_view name);

struct ToolRun {
    int status = -1;
    std::string output;  // standard output, when asked for
};

enum class ToolOutput {
    errorsOnly,      // standard error captured, printed on ours when the program fails
    standardOutput,  // standard output captured too, for ToolRun::output
    // Nothing captured: for a program that leaves a process of its own behind (wl-copy), which
    // would hold the pipes open long after the program itself has ended.
    none,
};

// Runs a small outside program (wl-copy, wtype, ...) to its end. Nothing when it cannot be
// started or does not finish within `timeout` (it is then ended).
std::optional<ToolRun> runTool(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeout,
                               ToolOutput output = ToolOutput::errorsOnly);

}  // namespace quenda
