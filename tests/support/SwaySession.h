// The headless sway the "sway" CTest fixture starts (scripts/lib/sway-session), for the Wayland
// tests: its display and its IPC socket, read from the state file the fixture wrote.
#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "support/TestSupport.h"

namespace quenda::test {

struct SwaySession {
    std::string display;    // absolute path of its Wayland socket
    std::string ipcSocket;  // for swaymsg

    // The running session, or nothing when sway is not installed (the fixture then starts none).
    static std::optional<SwaySession> find() {
        std::ifstream state(QUENDA_SWAY_STATE);
        SwaySession session;
        for (std::string line; std::getline(state, line);) {
            if (line.starts_with("WAYLAND_DISPLAY="))
                session.display = line.substr(16);
            else if (line.starts_with("SWAYSOCK="))
                session.ipcSocket = line.substr(9);
        }
        if (session.display.empty())
            return std::nullopt;
        return session;
    }

    // One sway command through its IPC socket; whether sway carried it out.
    bool command(const std::string& text) const {
        return runProgram("/usr/bin/swaymsg", {"-s", ipcSocket, text}).status == 0;
    }
};

}  // namespace quenda::test
