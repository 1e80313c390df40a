// A private session bus for tests that use D-Bus.
#pragma once

#include <memory>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace quenda::test {

// A session bus of the test's own (a dbus-daemon on a socket in a temporary directory), its
// address in DBUS_SESSION_BUS_ADDRESS while the object lives. By default only this user may
// connect, as on a desktop; `anyUser` also lets programs of other users in (a compositor that
// runs as another user starting `quenda --ptt-press`).
class PrivateSessionBus {
  public:
    enum class Users { owner, anyUser };

    explicit PrivateSessionBus(Users users = Users::owner)
        : daemon_(launch(users)), env_("DBUS_SESSION_BUS_ADDRESS", address()) {}
    ~PrivateSessionBus() {
        daemon_->kill();
        daemon_->waitForExit();
    }
    bool ready() const {
        return waitUntil([&] { return std::filesystem::is_socket(socket()); });
    }
    std::string address() const { return "unix:path=" + socket(); }

  private:
    // Any user may connect through the socket when everyone may enter its folder; the policy
    // lets them in only with `anyUser`.
    std::unique_ptr<Process> launch(Users users) const {
        if (users == Users::anyUser)
            std::filesystem::permissions(dir_.path(), std::filesystem::perms::all &
                                                          ~std::filesystem::perms::others_write &
                                                          ~std::filesystem::perms::group_write);
        writeFile(
            dir_ / "bus.conf",
            "<busconfig><type>session</type><listen>" + address() +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">" +
                (users == Users::anyUser ? "<allow user=\"*\"/>" : "") +
                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>\n");
        return Process::launch("/usr/bin/dbus-daemon",
                               {"--config-file=" + (dir_ / "bus.conf").string(), "--nofork"});
    }
    std::string socket() const { return (dir_ / "bus").string(); }
    TempDir dir_;
    std::unique_ptr<Process> daemon_;
    ScopedEnv env_;
};

}  // namespace quenda::test
