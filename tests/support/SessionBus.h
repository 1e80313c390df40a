// A private session bus for tests that use D-Bus.
#pragma once

#include <memory>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::test {

// A session bus of the test's own (a dbus-daemon on a socket in a temporary directory), its
// address in DBUS_SESSION_BUS_ADDRESS while the object lives.
class PrivateSessionBus {
  public:
    PrivateSessionBus()
        : daemon_(Process::launch("/usr/bin/dbus-daemon",
                                  {"--session", "--nofork", "--address=unix:path=" + socket()})),
          env_("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket()) {}
    ~PrivateSessionBus() {
        daemon_->kill();
        daemon_->waitForExit();
    }
    bool ready() const {
        return waitUntil([&] { return std::filesystem::is_socket(socket()); });
    }

  private:
    std::string socket() const { return (dir_ / "bus").string(); }
    TempDir dir_;
    std::unique_ptr<Process> daemon_;
    ScopedEnv env_;
};

}  // namespace quenda::test
