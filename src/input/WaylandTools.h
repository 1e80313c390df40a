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

// Runs a small outside program (wl-copy, wtype, ...) to its end, its standard error captured
// and printed on ours when it fails. Nothing when it cannot be started or does not finish
// within `timeout` (it is then ended).
std::optional<ToolRun> runTool(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeout, bool captureOutput = false);

}  // namespace quenda
