#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "input/SessionBackends.h"

namespace quenda::doctor {

// One piece Quenda needs, as the doctor found it.
struct Check {
    std::string piece;  // what was checked, as the user knows it
    bool ok = false;
    bool required = true;  // dictation cannot work without it
    std::string detail;    // what was found, or what is wrong
    std::string fix;       // the command or step that fixes it (when not ok)
};

Check speechServer();
Check model(const std::string& modelID);
Check ffmpeg();
Check soundServer();
Check display();
// Whether another program holds the push-to-talk combination (needs a reachable display).
Check hotkeyFree(bool displayReachable);
// Which push-to-talk and paste backends the session gets and why; on Wayland, whether the
// programs they run are installed.
Check inputBackends(const InputBackends& chosen);
Check ollama();
Check portugueseVoice();

// "1,5 GB" / "148 MB": a file size the way the command line prints sizes.
std::string formatSize(std::uintmax_t bytes);

}  // namespace quenda::doctor
